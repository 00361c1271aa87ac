// Faults a virtual programmer shows on request: parsed from their specs, applied to the
// state, and acting on the link.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(FaultSpec, ParsesEveryKind) {
  struct Case {
    const char* spec;
    std::function<bool(const sim::Faults&)> holds;
  };
  const Case cases[] = {
      {"card=missing", [](const sim::Faults& f) { return f.card == sim::CardState::Missing; }},
      {"card=init", [](const sim::Faults& f) { return f.card == sim::CardState::InitFailed; }},
      {"card=reset", [](const sim::Faults& f) { return f.card == sim::CardState::ResetFailed; }},
      {"card=check", [](const sim::Faults& f) { return f.card == sim::CardState::CheckFailed; }},
      {"power-down", [](const sim::Faults& f) { return f.powerDown; }},
      {"wrong-signature", [](const sim::Faults& f) { return f.wrongSignature; }},
      {"protected", [](const sim::Faults& f) { return f.protectedTarget; }},
      {"not-empty", [](const sim::Faults& f) { return f.notEmpty; }},
      {"verify-error", [](const sim::Faults& f) { return f.verifyError; }},
      {"delay=250", [](const sim::Faults& f) { return f.replyDelayMs == 250; }},
      {"drop-reply=2,5", [](const sim::Faults& f) { return f.dropReplies == std::set<int>{2, 5}; }},
      {"drop-packet=3+4", [](const sim::Faults& f) { return f.dropPackets == std::set<int>{3, 4}; }},
      {"silent-after=7", [](const sim::Faults& f) { return f.silentAfter == 7; }},
      {"unplug-after=0x10", [](const sim::Faults& f) { return f.unplugAfter == 16; }},
      {"unplug-after-ms=1500", [](const sim::Faults& f) { return f.unplugAfterMs == 1500; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    sim::Faults f;
    std::string err;
    ASSERT_TRUE(sim::ParseFault(c.spec, f, &err)) << err;
    EXPECT_TRUE(c.holds(f));
  }
  for (const char* bad : {"card=broken", "delay", "delay=-1", "delay=fast", "drop-reply=0", "drop-reply=1,,x",
                          "power-down=1", "silent-after=", "melt"}) {
    SCOPED_TRACE(bad);
    sim::Faults f;
    std::string err;
    EXPECT_FALSE(sim::ParseFault(bad, f, &err));
    EXPECT_FALSE(err.empty());
  }
}

TEST(FaultSpec, StateFaultsChangeTheTarget) {
  sim::State st;
  st.target = sim::MakeTarget(*sim::FindPreset("ATmega328P"));
  ASSERT_TRUE(st.target.Empty());
  for (const char* f : {"card=reset", "power-down", "wrong-signature", "protected", "not-empty", "verify-error"})
    ASSERT_TRUE(sim::ParseFault(f, st.faults, nullptr));
  sim::ApplyStateFaults(st);
  EXPECT_EQ(st.card, sim::CardState::ResetFailed);
  EXPECT_FALSE(st.target.powered);
  EXPECT_NE(st.target.ReadId(), st.target.signature);
  EXPECT_TRUE(st.target.locked);
  EXPECT_FALSE(st.target.Empty());
  EXPECT_TRUE(st.target.verifyFault);
}

TEST(FaultSpec, CheckTargetOrder) {
  // Power is looked at first, then the ID, then protection, then the erase state.
  sim::Target t = sim::MakeTarget(*sim::FindPreset("ATtiny10"));
  const auto id = t.signature;
  EXPECT_EQ(sim::CheckTarget(t, id), sim::kTargetEmpty);
  t.flash[100] = 0;
  EXPECT_EQ(sim::CheckTarget(t, id), sim::kTargetNotEmpty);
  t.locked = true;
  EXPECT_EQ(sim::CheckTarget(t, id), sim::kTargetProtected);
  EXPECT_EQ(sim::CheckTarget(t, {0x1E, 0x95, 0x0F}), sim::kTargetWrongId);
  t.powered = false;
  EXPECT_EQ(sim::CheckTarget(t, {0x1E, 0x95, 0x0F}), sim::kTargetPowerDown);
}

class LinkFaultTest : public ::testing::Test {
 protected:
  void StartWith(std::initializer_list<const char*> faults) {
    sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    h.Start(cfg);
  }
  SimHarness h;
};

TEST_F(LinkFaultTest, StartupFaultsReachTheReplies) {
  StartWith({"card=check", "power-down"});
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{4});
  h.host.Tesk('T');
  EXPECT_EQ(Chars(h.host.Drain()), (Bytes{0, 0}));
}

TEST_F(LinkFaultTest, RepliesAreDelayed) {
  StartWith({"delay=300"});
  auto t0 = Clock::now();
  h.host.Tesk('G');
  ASSERT_TRUE(h.host.Recv(2000));
  EXPECT_GE(MsSince(t0), 290);
  EXPECT_LT(MsSince(t0), 1500);
}

TEST_F(LinkFaultTest, ChosenRepliesAreDropped) {
  StartWith({"drop-reply=2"});
  // 'Q' 'c' answers ACK and the state: the state is the second reply and never comes.
  h.host.Tesk('Q');
  h.host.Send({'c'});
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0x06});
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0});
  auto c = h.With([](sim::State& st) { return st.count; });
  EXPECT_EQ(c.replies, 3);
  EXPECT_EQ(c.sent, 2);
}

TEST_F(LinkFaultTest, ChosenOutPacketsAreLost) {
  StartWith({"drop-packet=1"});
  h.host.Tesk('G');  // lost on the way in
  EXPECT_TRUE(h.host.Drain().empty());
  h.host.Tesk('T');
  EXPECT_EQ(Chars(h.host.Drain()), (Bytes{0x4A, 0x01}));
}

TEST_F(LinkFaultTest, SilentAfterSomePackets) {
  StartWith({"silent-after=2"});
  h.host.Tesk('G');
  h.host.Tesk('G');
  EXPECT_EQ(h.host.Drain().size(), 2u);
  h.host.Tesk('G');
  h.host.Cmd(0x00, 'I');
  EXPECT_TRUE(h.host.Drain(300).empty());
}

TEST_F(LinkFaultTest, UnplugAfterSomePackets) {
  StartWith({"unplug-after=2"});
  const std::string path = h.prog->Device().Path();
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0});
  h.host.Tesk('G');
  EXPECT_TRUE(h.host.Closed(2000));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LinkFaultTest, PacketsInFlightAtTheUnplugAskForNothingMore) {
  StartWith({"unplug-after=1"});
  for (int i = 0; i < 20; ++i) h.host.Tesk('G');
  EXPECT_TRUE(h.host.Closed(2000));
  // The firmware sits idle again: it stops at once.
  auto t0 = Clock::now();
  h.Stop();
  EXPECT_LT(MsSince(t0), 1000);
}

TEST_F(LinkFaultTest, UnplugAfterATime) {
  auto t0 = Clock::now();
  StartWith({"unplug-after-ms=300"});
  const std::string path = h.prog->Device().Path();
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain(100)), Bytes{0});
  EXPECT_TRUE(h.host.Closed(3000));
  EXPECT_GE(MsSince(t0), 290);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
