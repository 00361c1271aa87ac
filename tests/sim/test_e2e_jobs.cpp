// Erase, program and verify through the library's exports against a virtual programmer,
// followed with GetProgStatus as a production station does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using Clock = std::chrono::steady_clock;

namespace {

bool Running(int32_t res) { return res == 1 || res == 15 || (res >= 21 && res <= 26); }

// Polls until the job ends; the codes as they changed.
std::vector<int32_t> Follow(Answer& last, int timeoutMs = 10000) {
  std::vector<int32_t> seen;
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    last = Call(GetProgStatus);
    if (seen.empty() || seen.back() != last.res) seen.push_back(last.res);
  } while (Running(last.res) && Clock::now() < until);
  return seen;
}

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

class JobsEndToEnd : public ::testing::Test {
 protected:
  void Serve(std::initializer_list<const char*> faults, double speed) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    cfg.socketName = "prog-0";
    cfg.jobSpeed = speed;
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    prog = std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfg);
    std::string err;
    ASSERT_TRUE(prog->Start(&err)) << err;
    AbortAll();
    ASSERT_EQ(Call(CheckProgrammer).res, NURVA_RES_MMCok);
  }

  TestBus bus;
  TempDir cards;
  std::unique_ptr<sim::VirtualProgrammer> prog;
};

TEST_F(JobsEndToEnd, EraseProgramVerify) {
  Serve({}, 20);
  Answer e = Call(EraseDevice);
  EXPECT_EQ(e.text, "chip erased");
  EXPECT_EQ(e.res, 1);

  Answer start = Call(ProgDevice);
  ASSERT_EQ(start.text, "programming");
  Answer last;
  std::vector<int32_t> seen = Follow(last);
  if (!seen.empty() && seen.front() == 1) seen.erase(seen.begin());  // a poll before the first status
  EXPECT_EQ(seen, (std::vector<int32_t>{15, 21, 22, 2})) << "erase Chip, prog Flash, prog EEprom, done";
  EXPECT_EQ(last.text, "operation successful");

  ASSERT_EQ(Call(VerifyDevice).text, "verifying");
  seen = Follow(last);
  EXPECT_EQ(seen.back(), 2);
  EXPECT_NE(std::find(seen.begin(), seen.end(), 24), seen.end()) << "verify Flash";
  EXPECT_NE(std::find(seen.begin(), seen.end(), 25), seen.end()) << "verify EEprom";
  EXPECT_EQ(Call(GetProgStatus).res, 2) << "the end stays";

  EXPECT_EQ(Call(ProgFuses).text, "fuses programmed");
  EXPECT_EQ(Call(ProgLockBits).text, "locks programmed");
  Answer locked = Call(VerifyFlashOnly);
  EXPECT_EQ(locked.text, "device protected");
  EXPECT_EQ(locked.res, 19);
}

TEST_F(JobsEndToEnd, FailuresReachTheHost) {
  struct Case {
    const char* fault;
    void (*start)(int32_t, int32_t*, char*);
    int32_t startRes;
    int32_t endRes;  // -1: no job
    const char* endText;
  };
  const Case cases[] = {
      {"verify-error", VerifyDevice, 1, 27, "Verify error"},
      {"job-fails=power-down", ProgDevice, 1, 10, "Device Power down"},
      {"job-fails=timeout", ProgDevice, 1, 9, "progTimeOutError"},
      {"device-limit=0", ProgDevice, 1, 14, "Device count exceeded"},
      {"power-down", ProgFlash, 10, -1, ""},
      {"wrong-signature", ProgDevice, 12, -1, ""},
      {"protected", VerifyDevice, 19, -1, ""},
      {"not-empty", ProgFlash, 20, -1, ""},
      {"prog-timeout", ProgEEprom, 9, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    prog.reset();
    Serve({c.fault}, 20);
    Answer start = Call(c.start);
    EXPECT_EQ(start.res, c.startRes) << start.text;
    if (c.endRes < 0) continue;
    Answer last;
    Follow(last);
    EXPECT_EQ(last.res, c.endRes);
    EXPECT_EQ(last.text, c.endText);
  }
}

// A whole program and verify job through the library, against the programmer's own time
// for its steps; printed as a figure, with a loose bound only.
TEST_F(JobsEndToEnd, ProgramAndVerifyTime) {
  const double speed = std::getenv("NURVA_JOB_SPEED") ? std::atof(std::getenv("NURVA_JOB_SPEED")) : 4.0;
  Serve({}, speed > 0 ? speed : 4.0);
  // The programmer's own time: erase 120, 8 Flash pages of 40, 4 EEprom chunks of 60,
  // fuses 60; verify 12 Flash pages of 12 ms.
  const double own = ((120 + 8 * 40 + 4 * 60 + 60) + (12 * 12)) / (speed > 0 ? speed : 4.0);
  const auto t0 = Clock::now();
  ASSERT_EQ(Call(ProgDevice).res, 1);
  Answer last;
  Follow(last);
  ASSERT_EQ(last.res, 2);
  const double programMs = MsSince(t0);
  const auto t1 = Clock::now();
  ASSERT_EQ(Call(VerifyDevice).res, 1);
  Follow(last);
  ASSERT_EQ(last.res, 2);
  const double total = MsSince(t0);
  std::printf("program+verify through the library: %.1f ms (program %.1f, verify %.1f); the programmer's own job "
              "time %.1f ms (speed %.1f)\n",
              total, programMs, MsSince(t1), own, speed);
  EXPECT_GE(total, own * 0.9);
  EXPECT_LT(total, own + 1000);
}

}  // namespace
