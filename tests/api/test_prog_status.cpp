// Progress status: the statuses a running job sends, as GetProgStatus turns them into the
// link's text and code.
#include "tests/api/api_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class ProgStatusTest : public ApiTest {
 protected:
  void SetUp() override { Discover(1); }
  ScriptedPeer& Peer() { return *peers[0]; }
  // Queues `statuses` on the link (sent unasked) and waits until all are there.
  void Queue(const Bytes& statuses) {
    std::vector<Pkt> p;
    for (uint8_t s : statuses) p.push_back(Pkt({s}));
    const int before = Link(0).QueuedPackets();
    Peer().Push(p);
    ASSERT_TRUE(QueuedNow(before + static_cast<int>(statuses.size())));
  }
  bool QueuedNow(int n) {
    for (int i = 0; i < 500; ++i) {
      if (Link(0).QueuedPackets() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // The link as a start command leaves it.
  void Started(TOpMode mode, char lastStat = kNAK) {
    Link(0).FlushBuffer();
    Link(0).OpMode = mode;
    Link(0).Fres = TPrgResult::resOk;
    Link(0).Msg = "TESK found";
    Link(0).FlastStat = lastStat;
  }
};

}  // namespace

TEST_F(ProgStatusTest, EachStatusAndItsWording) {
  struct Case {
    uint8_t status;
    TOpMode mode;
    const char* msg;
    int32_t res;
    TOpMode modeAfter;
  };
  using enum TOpMode;
  const Case cases[] = {
      {0x00, opVerify, "operation successful", 2, opIdle},
      {0x01, opProg, "Device Power down", 10, opIdle},
      {0x03, opProg, "Wrong signature", 12, opIdle},
      {0x04, opProg, "Device protected", 19, opIdle},
      {0x05, opProg, "Device not empty", 20, opIdle},
      {0x06, opVerify, "Verify error", 27, opIdle},
      {0x08, opProg, "progTimeOutError", 9, opProg},
      {0x08, opVerify, "progTimeOutError", 9, opVerify},
      {0x0F, opProg, "Device count exceeded", 14, opIdle},
      {'L', opProg, "Device limit exceeded", 14, opIdle},
      {'c', opProg, "erase Chip", 15, opProg},
      {'F', opProg, "prog Flash", 21, opProg},
      {'f', opProg, "prog Flash", 21, opProg},
      {'E', opProg, "prog EEprom", 22, opProg},
      {'e', opProg, "prog EEprom", 22, opProg},
      {'U', opProg, "prog UsrRow", 23, opProg},
      {'u', opProg, "prog UsrRow", 23, opProg},
      {'f', opVerify, "verify Flash", 24, opVerify},
      {'F', opVerify, "verify Flash", 24, opVerify},
      {'e', opVerify, "verify EEprom", 25, opVerify},
      {'U', opVerify, "verify UsrRow", 26, opVerify},
      {'u', opIdle, "verify UsrRow", 26, opIdle},  // statuses after the job ended read as verifying
      {'z', opProg, "TESK found", 1, opProg},       // unknown: only FlastStat changes
      {0x02, opProg, "TESK found", 1, opProg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " in mode " + std::to_string(static_cast<int>(c.mode)));
    Started(c.mode);
    Queue({c.status});
    Answer a = Call(GetProgStatus, 0, 99);
    EXPECT_EQ(a.text, c.msg);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(Link(0).OpMode, c.modeAfter);
    EXPECT_EQ(static_cast<uint8_t>(Link(0).FlastStat), c.status);
    EXPECT_EQ(Link(0).RxTimeOut(), kDefaultRxTimeOutMs);
  }
}

TEST_F(ProgStatusTest, AnEmptyQueueAnswersTheLastStatusAfterAbout50ms) {
  Started(TOpMode::opProg, 'F');
  Link(0).Msg = "prog Flash";
  Link(0).Fres = TPrgResult::prgFlash;
  const auto t0 = Clock::now();
  Answer a = Call(GetProgStatus, 0, 99);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_EQ(a.text, "prog Flash");
  EXPECT_EQ(a.res, 21);
  EXPECT_EQ(Link(0).FlastStat, kNAK);
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 500);
  EXPECT_EQ(Link(0).RxTimeOut(), kDefaultRxTimeOutMs);
  EXPECT_EQ(Link(0).OpMode, TOpMode::opProg);
}

TEST_F(ProgStatusTest, ARunOfEqualStatusesCollapses) {
  struct Case {
    const char* name;
    char lastStat;
    Bytes queued;
    int32_t res;
    char lastAfter;
    int left;
  };
  const Case cases[] = {
      {"a run, then a new step", 'F', {'F', 'F', 'F', 'E'}, 22, 'E', 0},
      {"a new status is never collapsed", kNAK, {'F', 'F'}, 21, 'F', 1},
      {"an equal run stops at the next one", 'c', {'c', 'c', 'F', 'F'}, 21, 'F', 1},
      {"at most 100 further reads", 'F', Bytes(150, 'F'), 21, 'F', 49},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Started(TOpMode::opProg, c.lastStat);
    Queue(c.queued);
    Answer a = Call(GetProgStatus, 0, 99);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(Link(0).FlastStat, c.lastAfter);
    EXPECT_EQ(Link(0).QueuedPackets(), c.left);
  }
  // The second 'F' of the second case's kind: the next call takes it.
  Started(TOpMode::opProg);
  Queue({'F', 'F'});
  EXPECT_EQ(Call(GetProgStatus, 0).res, 21);
  EXPECT_EQ(Link(0).QueuedPackets(), 1);
  EXPECT_EQ(Call(GetProgStatus, 0).res, 21);
  EXPECT_EQ(Link(0).QueuedPackets(), 0);
}

TEST_F(ProgStatusTest, VerifyErrorDrainsAtMost20Packets) {
  for (int extra : {30, 5}) {
    SCOPED_TRACE(extra);
    Started(TOpMode::opVerify, 'f');
    Bytes q{0x06};
    for (int i = 0; i < extra; ++i) q.push_back(i % 2 ? 'f' : 0x00);
    Queue(q);
    const auto t0 = Clock::now();
    Answer a = Call(GetProgStatus, 0, 99);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_EQ(a.text, "Verify error");
    EXPECT_EQ(a.res, 27);
    EXPECT_EQ(Link(0).FlastStat, 0x06);
    EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
    EXPECT_EQ(Link(0).QueuedPackets(), extra > 20 ? extra - 20 : 0);
    EXPECT_LT(ms, 45) << "the drain reads only what is queued";
  }
}

TEST_F(ProgStatusTest, AWholeJobFromStartToTheEnd) {
  Link(0).Msg = "TESK found";
  Peer().On({'P'}).Send({Pkt({kACK}), Pkt({'c'}).After(150), Pkt({'c'}).After(10), Pkt({'F'}).After(20),
                         Pkt({'F'}).After(20), Pkt({'F'}).After(20), Pkt({'E'}).After(20), Pkt({0x00}).After(20)});
  Answer start = Call(ProgDevice, 0);
  EXPECT_EQ(start.text, "programming");
  EXPECT_EQ(start.res, 1);
  // Before the first status: resOk and the text the programmer check left.
  Answer first = Call(GetProgStatus, 0);
  EXPECT_EQ(first.res, 1);
  EXPECT_EQ(first.text, "TESK found");

  std::vector<int32_t> seen;
  std::vector<std::string> texts;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    Answer a = Call(GetProgStatus, 0);
    if (seen.empty() || seen.back() != a.res) {
      seen.push_back(a.res);
      texts.push_back(a.text);
    }
    if (a.res == 2) break;
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 15, 21, 22, 2}));
  EXPECT_EQ(texts.back(), "operation successful");
  EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
  for (int i = 0; i < 3; ++i) {
    Answer later = Call(GetProgStatus, 0);
    EXPECT_EQ(later.res, 2);
    EXPECT_EQ(later.text, "operation successful");
  }
}

TEST_F(ProgStatusTest, APollOnABusyChannelLeavesTheQueueAlone) {
  Started(TOpMode::opProg);
  Queue({'F', 'E'});
  Link(0).busy = true;
  Answer a = Call(GetProgStatus, 0, 99);
  EXPECT_EQ(a.text, "Busy");
  EXPECT_EQ(a.res, 5);
  EXPECT_EQ(Link(0).QueuedPackets(), 2);
  EXPECT_EQ(Link(0).FlastStat, kNAK);
  EXPECT_TRUE(Link(0).busy.load());
  Link(0).busy = false;
  EXPECT_EQ(Call(GetProgStatus, 0).res, 21);
  EXPECT_EQ(Call(GetProgStatus, 0).res, 22);
}

TEST_F(ProgStatusTest, ChannelAnswersAndNullPointers) {
  Started(TOpMode::opProg);
  Queue({'F'});
  Answer bad = Call(GetProgStatus, 1, 99);
  EXPECT_EQ(bad.text, "illegal port number");
  EXPECT_EQ(bad.res, 3);
  EXPECT_EQ(Call(GetProgStatus, -1).res, 3);
  EXPECT_EQ(Link(0).QueuedPackets(), 1);
  GetProgStatus(0, nullptr, nullptr);
  EXPECT_EQ(Link(0).Fres, TPrgResult::prgFlash);
  char text[64];
  GetProgStatus(0, nullptr, text);
  EXPECT_STREQ(text, "prog Flash");
  // Behind the export layer a missing link changes nothing.
  int32_t r = 99;
  EXPECT_EQ(api::RdrList->GetProgStatus(7, r), "");
  EXPECT_EQ(r, 99);
  EXPECT_EQ(api::RdrList->ProgStatus(7), "");
}

TEST_F(ApiTest, GetProgStatusBeforeDiscovery) {
  Answer a = Call(GetProgStatus, 0, 99);
  EXPECT_EQ(a.text, "USB not connected!!");
  EXPECT_EQ(a.res, 5);
  GetProgStatus(0, nullptr, nullptr);
}
