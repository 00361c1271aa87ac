// Jobs: steps on the firmware's timer that send status characters unasked.
#include <gtest/gtest.h>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

sim::Job ThreeSteps(uint32_t ms) {
  sim::Job j;
  j.name = "test";
  j.steps = {{ms, 'c', {}}, {ms, 'F', {}}, {ms, 'E', {}}, {ms, 0x00, {}}};
  return j;
}

class JobTest : public ::testing::Test {
 protected:
  SimHarness h;
};

TEST_F(JobTest, StatusCharactersComeUnaskedOnTheTimer) {
  h.Start(SampleConfig(h.CardDir()));
  auto t0 = Clock::now();
  h.prog->Fw().StartJob(ThreeSteps(100));
  EXPECT_TRUE(h.prog->Fw().JobRunning());
  std::vector<long> at;
  Bytes got;
  for (int i = 0; i < 4; ++i) {
    auto p = h.host.Recv(1000);
    ASSERT_TRUE(p) << "status " << i;
    got.push_back((*p)[0]);
    at.push_back(MsSince(t0));
  }
  EXPECT_EQ(got, (Bytes{'c', 'F', 'E', 0x00}));
  for (size_t i = 0; i < at.size(); ++i) EXPECT_GE(at[i], 100 * static_cast<long>(i + 1) - 5) << i;
  EXPECT_FALSE(h.prog->Fw().JobRunning());
  EXPECT_TRUE(h.host.Drain(200).empty());
}

TEST_F(JobTest, SpeedDividesStepTimes) {
  sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
  cfg.jobSpeed = 10;
  h.Start(cfg);
  auto t0 = Clock::now();
  h.prog->Fw().StartJob(ThreeSteps(500));  // 2000 ms at speed 1
  EXPECT_EQ(Chars(h.host.RecvN(4, 1000)), (Bytes{'c', 'F', 'E', 0x00}));
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_GE(MsSince(t0), 190);
}

TEST_F(JobTest, AStepCanEndTheJobWithAFault) {
  h.Start(SampleConfig(h.CardDir()));
  sim::Job j;
  j.name = "verify";
  j.steps = {{20, 'f', {}},
             {20, 'f', [](sim::State& st) -> std::optional<uint8_t> {
                if (st.target.verifyFault) return 0x06;
                return std::nullopt;
              }},
             {20, 'e', {}},
             {20, 0x00, {}}};
  h.With([](sim::State& st) { st.target.verifyFault = true; });
  h.prog->Fw().StartJob(j);
  EXPECT_EQ(Chars(h.host.Drain(300)), (Bytes{'f', 0x06}));
  EXPECT_FALSE(h.prog->Fw().JobRunning());
}

TEST_F(JobTest, CommandsAreServedWhileAJobRuns) {
  h.Start(SampleConfig(h.CardDir()));
  h.prog->Fw().StartJob(ThreeSteps(200));
  h.host.Tesk('T');
  auto first = h.host.Recv(150);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, (Bytes{0x4A, 0x01}));
  EXPECT_EQ(Chars(h.host.RecvN(4, 1000)), (Bytes{'c', 'F', 'E', 0x00}));
}

TEST_F(JobTest, ANewJobReplacesTheRunningOne) {
  h.Start(SampleConfig(h.CardDir()));
  h.prog->Fw().StartJob(ThreeSteps(300));
  sim::Job other;
  other.name = "other";
  other.steps = {{50, 'U', {}}, {50, 0x04, {}}};
  h.prog->Fw().StartJob(other);
  EXPECT_EQ(Chars(h.host.Drain(500)), (Bytes{'U', 0x04}));
}

TEST(JobStatus, ProgressLettersKeepAJobGoing) {
  for (uint8_t s : {'c', 'F', 'f', 'E', 'e', 'U', 'u'}) EXPECT_TRUE(sim::IsProgressStatus(s)) << s;
  for (uint8_t s : {0x00, 0x01, 0x03, 0x04, 0x05, 0x06, 0x08, 0x0F, int{'L'}}) EXPECT_FALSE(sim::IsProgressStatus(s)) << s;
}

}  // namespace
