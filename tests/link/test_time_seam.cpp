// The time seam: with a seam installed a command's fixed pauses and its wait for a reply go
// to the seam and take no real time; with real time back they take their time again.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "tests/support/ScriptedPeer.h"
#include "transport/TimeSeam.h"
#include "transport/URecBufMulti.h"

using namespace nurva;
using namespace nurva::test;

namespace {

// Records every pause and wait; answers each wait with the next of its replies (pushed
// into the queue as the receive loop would), or with silence once they are used up.
class RecordingSeam : public TTimeSeam {
 public:
  void Pause(uint32_t ms) override { pauses.push_back(ms); }
  bool AwaitPacket(TMsgQueue& queue, uint32_t ms) override {
    waits.push_back(ms);
    if (next >= replies.size()) return false;
    const uint8_t transfer[3] = {1, 0, replies[next++]};
    queue.Push(transfer, sizeof transfer);
    return true;
  }
  std::vector<uint8_t> replies;
  size_t next = 0;
  std::vector<uint32_t> pauses, waits;
};

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// A connected link to a peer that never answers: every reply the link gets comes from the
// seam, or does not come.
class TimeSeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ScriptedPeer>(bus, "dev0");
    ASSERT_TRUE(link.Connect(0));
    ASSERT_TRUE(peer->WaitForInBound(2000));
  }
  void TearDown() override {
    SetTimeSeam(nullptr);
    link.Terminate();
    link.WaitFor();
  }

  TestBus bus;
  std::unique_ptr<ScriptedPeer> peer;
  TUSBreader link{nullptr};
  RecordingSeam seam;
};

// The file check pauses 50 ms after its command and after the name, then waits for the
// first reply; a NAK (or silence) ends it there, an ACK brings a further 50 ms pause and a
// second wait.
constexpr uint32_t kCheckPauseMs = 50;

TEST_F(TimeSeamTest, SeamTakesThePausesAndTheWaitsOfACommand) {
  struct Case {
    const char* what;
    std::vector<uint8_t> replies;
    TPrgResult res;
    std::vector<uint32_t> pauses, waits;
  };
  const Case cases[] = {
      {"silence", {}, TPrgResult::FileExist, {kCheckPauseMs, kCheckPauseMs}, {kDefaultRxTimeOutMs}},
      {"replies from the seam",
       {kACK, kACK},
       TPrgResult::resOk,
       {kCheckPauseMs, kCheckPauseMs, kCheckPauseMs},
       {kDefaultRxTimeOutMs, kDefaultRxTimeOutMs}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    seam = RecordingSeam{};
    seam.replies = c.replies;
    SetTimeSeam(&seam);
    int32_t res = -1;
    const auto t0 = Clock::now();
    link.DoCheckFile("A.PAC", res);
    const long took = MsSince(t0);
    SetTimeSeam(nullptr);
    EXPECT_EQ(res, Ord(c.res));
    EXPECT_EQ(seam.pauses, c.pauses);
    ASSERT_EQ(seam.waits.size(), c.waits.size());
    for (size_t i = 0; i < c.waits.size(); ++i) {
      // What is left of the limit, counted in whole milliseconds.
      EXPECT_LE(seam.waits[i], c.waits[i]);
      EXPECT_GE(seam.waits[i], c.waits[i] - 50) << "each wait is offered the rest of the receive limit";
    }
    // Real time would be at least 100 ms of pauses and, in silence, 2000 ms of waiting.
    EXPECT_LT(took, 80) << "nothing slept";
  }
}

TEST_F(TimeSeamTest, FixedPauseGoesToTheSeam) {
  SetTimeSeam(&seam);
  const auto t0 = Clock::now();
  LinkPause(1000);
  EXPECT_LT(MsSince(t0), 80);
  EXPECT_EQ(seam.pauses, std::vector<uint32_t>{1000});
}

TEST_F(TimeSeamTest, WithRealTimeBackTheCommandTakesItsTimeAndTheSeamSeesNothing) {
  SetTimeSeam(&seam);
  SetTimeSeam(nullptr);
  // A short standing limit keeps the silent wait short: 50 + 50 ms of pauses, then 100 ms
  // of silence.
  link.SetRXTimeOut(100);
  int32_t res = -1;
  const auto t0 = Clock::now();
  link.DoCheckFile("A.PAC", res);
  const long took = MsSince(t0);
  link.SetRXTimeOut(kDefaultRxTimeOutMs);
  EXPECT_EQ(res, Ord(TPrgResult::FileExist));
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 1500);
  EXPECT_TRUE(seam.pauses.empty());
  EXPECT_TRUE(seam.waits.empty());
}

}  // namespace
