// The programmer link over the Windows objects and the stand-in driver: what the link's
// overlapped I/O leaves behind when writes hang, when it stops, and over many connections.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "tools/vusb/FakeDriver.h"
#include "transport/URecBufMulti.h"

using namespace nurva;
using namespace nurva::test;
namespace fake = nurva::vusb::fake;
using namespace std::chrono_literals;

namespace {

long Ms(Clock::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); }

std::vector<fake::IoRecord> Records(fake::IoKind kind) {
  std::vector<fake::IoRecord> r;
  for (const auto& e : fake::IoLog())
    if (e.kind == kind) r.push_back(e);
  return r;
}

class Win32LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ScriptedPeer>(bus, "dev0");
    link = std::make_unique<TUSBreader>(nullptr);
    ASSERT_TRUE(link->Connect(0));
    ASSERT_TRUE(peer->WaitForInBound(2000));
    std::this_thread::sleep_for(30ms);  // the receive loop now waits in a pending read
  }
  // Nothing may be left pending or misused once the link is gone.
  void ExpectNothingLeft() {
    const auto st = fake::GetStats();
    EXPECT_EQ(st.inFlight, 0);
    EXPECT_EQ(st.handlesOpen, 0);
    EXPECT_EQ(st.deviceLists, 0);
    EXPECT_EQ(st.closedWithPendingIo, 0);
    EXPECT_EQ(st.reusedOverlapped, 0);
    EXPECT_EQ(st.badCloses, 0);
  }
  TestBus bus;
  std::unique_ptr<ScriptedPeer> peer;
  std::unique_ptr<TUSBreader> link;
};

}  // namespace

TEST_F(Win32LinkTest, WriteThatNeverCompletesIsCancelledAndItsFrameIsNeverSent) {
  fake::HoldWrites(true);
  fake::SetCancelDelayMs(60);
  const auto t0 = Clock::now();
  EXPECT_FALSE(link->TxChar('q'));
  const auto returned = Clock::now();
  EXPECT_GE(Ms(returned - t0), 1950);
  EXPECT_LT(Ms(returned - t0), 3500);

  const auto writes = Records(fake::IoKind::Write);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_TRUE(writes[0].pending);
  EXPECT_EQ(writes[0].size, 3u);
  EXPECT_TRUE(writes[0].cancelRequested) << "the driver saw the cancel";
  EXPECT_GE(Ms(writes[0].cancelAt - writes[0].started), 1950);
  ASSERT_TRUE(writes[0].finished);
  EXPECT_EQ(writes[0].ntstatus, fake::kStatusCancelled);
  EXPECT_LE(writes[0].finishedAt, returned) << "the frame's buffer was released before the send returned";

  // Once writes flow again the cancelled frame does not turn up; the next one does.
  fake::HoldWrites(false);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(peer->OutCount(), 0);
  EXPECT_TRUE(link->TxChar('x'));
  ASSERT_TRUE(peer->WaitForOut(1, 1000));
  EXPECT_EQ(peer->OutPayloads(), std::vector<Bytes>{{'x'}});
  link.reset();
  ExpectNothingLeft();
}

TEST_F(Win32LinkTest, TerminateEndsThePendingReadAtOnce) {
  auto reads = Records(fake::IoKind::Read);
  ASSERT_FALSE(reads.empty());
  ASSERT_FALSE(reads.back().finished) << "the loop waits in a read";
  fake::SetCancelDelayMs(20);
  const auto t0 = Clock::now();
  link->Terminate();
  link->WaitFor();
  const auto ended = Clock::now();
  EXPECT_LT(Ms(ended - t0), 150);
  reads = Records(fake::IoKind::Read);
  EXPECT_TRUE(reads.back().cancelRequested);
  ASSERT_TRUE(reads.back().finished);
  EXPECT_EQ(reads.back().ntstatus, fake::kStatusCancelled);
  EXPECT_LE(reads.back().finishedAt, ended) << "the loop's read buffer was released before the loop ended";
  EXPECT_EQ(fake::GetStats().inFlight, 0);
  // A transfer that comes now finds no read to fill.
  EXPECT_TRUE(peer->Device().SendIn(Bytes{0x01, 0x00, 'z'}));
  EXPECT_EQ(Records(fake::IoKind::Read).size(), reads.size());
  link.reset();
  ExpectNothingLeft();
}

TEST_F(Win32LinkTest, ConnectionsComeAndGoWithoutLeavingAnything) {
  peer->On({0x02, 'G'}).Always().Send({Pkt({'k'})});
  for (int i = 0; i < 5; ++i) {
    if (i > 0) {
      ASSERT_TRUE(link->Connect(0)) << i;
    }
    ASSERT_TRUE(peer->WaitForInBound(2000));
    ASSERT_TRUE(link->TxCmd(TCmdTyp::TESKcmd, 'G'));
    char ch = 0;
    ASSERT_TRUE(link->RxChar(ch)) << i;
    EXPECT_EQ(ch, 'k');
    peer->Push({Pkt({'a'}), Pkt({'b'})});  // still arriving while the link goes
    link->Disconnect();
    EXPECT_EQ(fake::GetStats().handlesOpen, 0) << i;
  }
  // A link freed while connected, without Terminate, releases everything as well.
  ASSERT_TRUE(link->Connect(0));
  link.reset();
  ExpectNothingLeft();
}
