// Programmer check and target control, reply by reply.
#include "common/LocaleFacts.h"
#include "tests/api/api_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class ProgCheckTest : public ApiTest {
 protected:
  void SetUp() override { Discover(1); }
  ScriptedPeer& Peer() { return *peers[0]; }
  // Resets the peer's script and log between the cases of a table.
  void Rescript() {
    peers[0].reset();  // its socket goes before the new one takes the name
    peers[0] = std::make_unique<ScriptedPeer>(bus, "dev00");
    peers[0]->Identify(ProgrammerRec(kModelProg, 0x1000));
    Link(0).Disconnect();
    ASSERT_TRUE(Link(0).Connect(0));
    Peer().ClearLog();
  }
};

// Replies the peer sends for one case: the payloads, in order.
std::vector<Pkt> Replies(const std::vector<Bytes>& payloads) {
  std::vector<Pkt> r;
  for (const auto& p : payloads) r.push_back(Pkt(p));
  return r;
}

class FixedSeparator : public LocaleFacts {
 public:
  explicit FixedSeparator(std::string s) : sep_(std::move(s)) {}
  std::string DecimalSeparator() const override { return sep_; }

 private:
  std::string sep_;
};

}  // namespace

TEST_F(ProgCheckTest, CheckProgrammerReportsTheCardState) {
  struct Case {
    std::vector<Bytes> reply;
    int32_t res;
    TPrgResult fres;
    std::string text, msg;
  };
  const Case cases[] = {
      {{{1}}, 42, TPrgResult::MMCnoMedia, "TESK found, no flashcard", "TESK found, no flashcard"},
      {{{2}}, 43, TPrgResult::MMCinitFailed, "TESK found, MMC init failed", "TESK found, MMC init failed"},
      {{{3}}, 44, TPrgResult::MMCresetFailed, "TESK found, MMC reset failed", "TESK found, MMC reset failed"},
      {{{4}}, 45, TPrgResult::MMCcheckFailed, "TESK found, MMC check failed", "TESK found, MMC check failed"},
      {{{0}}, 39, TPrgResult::progFound, "TESK at Port 00001000", "TESK found"},
      {{{'x'}}, 39, TPrgResult::progFound, "TESK at Port 00001000", "TESK found"},
      {{}, 39, TPrgResult::progFound, "TESK at Port 00001000", "TESK found"},  // silence
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On({0x02, 'G'}).Send(Replies(c.reply));
    Answer a = Call(CheckProgrammer, 0, 99);
    EXPECT_EQ(a.res, c.res) << c.text;
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Link(0).Fres, c.fres) << c.text;
    EXPECT_EQ(Link(0).Msg, c.msg);
    EXPECT_EQ(Peer().OutPayloads(), (std::vector<Bytes>{{0x02, 'G'}}));
  }
}

TEST_F(ProgCheckTest, CheckProgrammerOnAClosedLinkSendsNothing) {
  Link(0).Disconnect();
  Answer a = Call(CheckProgrammer, 0, 99);
  EXPECT_EQ(a.res, 46);
  EXPECT_EQ(a.text, "programmer not found! at Port 00001000");
  EXPECT_EQ(Link(0).Msg, "?");
  EXPECT_EQ(Link(0).Fres, TPrgResult::noProg);
  Link(0).FDeviceRec.SerNum = 0;
  EXPECT_EQ(Call(CheckProgrammer, 0).text, "programmer not found! at Port ");
  EXPECT_EQ(Peer().OutCount(), 0);
}

TEST_F(ProgCheckTest, CheckProgrammerPassesOnlyItsOwnCodesToTheHost) {
  // Behind the export layer, a missing link answers with a code outside the set.
  int32_t code = 99;
  EXPECT_EQ(api::RdrList->CheckProgrammer(7, code), "USB channel 7 closed");
  EXPECT_EQ(code, 3);
  Peer().On({0x02, 'G'}).Send({Pkt({0})});
  EXPECT_EQ(Call(CheckProgrammer, 0, 99).res, 39);
}

TEST_F(ProgCheckTest, InitChannelExchangesNothingButDropsQueuedReplies) {
  Peer().Push({Pkt({'s'})});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  struct Case {
    bool firmwareLost;
    bool connected;
    int32_t res;
    const char* text;
  };
  for (Case c : {Case{false, true, 4, "prog OK"}, Case{true, true, 6, "TESK lost Firmware"},
                 Case{false, false, 3, "Check Port"}}) {
    Link(0).FDeviceRec.FirmwLost = c.firmwareLost;
    if (!c.connected) Link(0).Disconnect();
    Answer a = Call(InitChannel, 0);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(a.text, c.text);
  }
  EXPECT_EQ(Link(0).Fres, TPrgResult::noProg);
  EXPECT_EQ(Peer().OutCount(), 0);
  ASSERT_TRUE(Link(0).Connect(0));
  Link(0).SetRXTimeOut(100);
  char ch;
  EXPECT_FALSE(Link(0).RxChar(ch)) << "the queued reply was dropped";
}

TEST_F(ProgCheckTest, ReleaseTargetTakesAnyReply) {
  for (Bytes reply : {Bytes{kACK}, Bytes{kNAK}, Bytes{'?'}}) {
    Rescript();
    Link(0).OpMode = TOpMode::opProg;
    Peer().On({0x02, 'r'}).Send({Pkt(reply).After(30)});
    Answer a = Call(ReleaseTarget, 0);
    EXPECT_EQ(a.res, 1);
    EXPECT_EQ(a.text, "target release");
    EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
    EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
  }
}

TEST_F(ProgCheckTest, ReleaseTargetWaitsFiveTimesForASilentProgrammer) {
  Link(0).OpMode = TOpMode::opProg;
  auto t0 = Clock::now();
  Answer a = Call(ReleaseTarget, 0);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_EQ(a.res, 9);
  EXPECT_EQ(a.text, "communication error");
  EXPECT_GE(ms, 5 * 2000 - 100);
  EXPECT_LT(ms, 5 * 2000 + 3000);
  EXPECT_EQ(Link(0).OpMode, TOpMode::opProg);
}

TEST_F(ProgCheckTest, CheckDeviceReportsTheTargetState) {
  struct Case {
    std::vector<Bytes> replies;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {
      {{{kACK}, {0}}, 1, "empty"},          {{{kACK}, {1}}, 10, "power down"}, {{{kACK}, {3}}, 12, "wrong ID"},
      {{{kACK}, {4}}, 19, "protected"},     {{{kACK}, {5}}, 20, "not empty"},  {{{kACK}, {2}}, 99, ""},
      {{{kACK}, {9}}, 99, ""},              {{{kNAK}}, 37, "File error"},      {{{'x'}}, 10, "power down"},
      {{}, 37, "File error"},  // silence reads as NAK
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On({'c'}).Send(Replies(c.replies));
    Answer a = Call(CheckDevice, 0, 99);
    EXPECT_EQ(a.res, c.res) << c.text;
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), (std::vector<Bytes>{{0x02, 'Q'}, {'c'}}));
    EXPECT_EQ(Link(0).Fres, TPrgResult::progFound) << "unchanged";
  }
}

TEST_F(ProgCheckTest, TargetVoltageInShortestDecimalForm) {
  struct Case {
    uint16_t word;
    const char* sep;
    const char* text;
  };
  const Case cases[] = {{330, ".", "3.3"},     {500, ".", "5"},     {333, ".", "3.33"},  {0, ".", "0"},
                        {1234, ".", "12.34"},  {1234, ",", "12,34"}, {305, ",", "3,05"}, {65535, ".", "655.35"}};
  for (const auto& c : cases) {
    Rescript();
    FixedSeparator sep(c.sep);
    ReplaceUserLocale(&sep);
    Peer().On({0x02, 'T'}).Send({Pkt({static_cast<uint8_t>(c.word & 0xFF), static_cast<uint8_t>(c.word >> 8)})});
    int32_t volt = -5, res = 99;
    char text[64];
    GetTargVolt(0, &volt, &res, text);
    ReplaceUserLocale(nullptr);
    EXPECT_EQ(volt, c.word);
    EXPECT_EQ(res, 1);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
  }
}

TEST_F(ProgCheckTest, TargetVoltageWithoutAReplyIsACommunicationError) {
  for (std::vector<Bytes> reply : {std::vector<Bytes>{}, std::vector<Bytes>{{0x21}}}) {
    Rescript();
    Peer().On({0x02, 'T'}).Send(Replies(reply));
    int32_t volt = -5, res = 99;
    char text[64];
    GetTargVolt(0, &volt, &res, text);
    EXPECT_EQ(volt, 0);
    EXPECT_EQ(res, 9);
    EXPECT_STREQ(text, "communication error");
  }
}

TEST_F(ProgCheckTest, FuseReadTable) {
  struct Case {
    std::vector<Bytes> replies;
    int32_t fuse, res;
    const char* text;
  };
  const Case cases[] = {
      {{{kCR}, {kACK}, {0x0A}}, 10, 1, "0A"},
      {{{kCR}, {0}, {0xE2}}, 0xE2, 1, "E2"},
      {{{kCR}, {kNAK}, {1}}, 255, 10, "device power down"},
      {{{kCR}, {kNAK}, {3}}, 255, 12, "wrong device ID"},
      {{{kCR}, {kNAK}, {4}}, 255, 19, "device protected"},
      {{{kCR}, {kNAK}, {7}}, 255, 9, "communication error"},
      {{{'x'}, {1}}, 255, 10, "device power down"},
      {{{'x'}, {3}}, 255, 12, "wrong device ID"},
      {{{'x'}, {4}}, 255, 36, "File error"},
      {{}, 255, 36, "File error"},  // silence: no CR, then a missing r2
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On({'H'}).Send(Replies(c.replies));
    int32_t fuse = -1, res = 99;
    char text[64];
    GetFuses(0, 0x7700 | 'H', &fuse, &res, text);  // only the low byte selects
    EXPECT_EQ(fuse, c.fuse) << c.text;
    EXPECT_EQ(res, c.res) << c.text;
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), (std::vector<Bytes>{{0x02, 'Q'}, {'g'}, {'H'}}));
  }
}

TEST_F(ProgCheckTest, PresenceCheckSendsNothingOnAnAbsentProgrammer) {
  struct Case {
    const char* name;
    std::function<Answer()> call;
    TPrgResult fresAfter;
  };
  const Case cases[] = {
      {"ReleaseTarget", [] { return Call(ReleaseTarget, 0); }, TPrgResult::noProg},
      {"CheckDevice", [] { return Call(CheckDevice, 0); }, TPrgResult::resNone},
      {"GetTargVolt",
       [] {
         int32_t v = 9;
         Answer a{99, {}};
         char t[64];
         GetTargVolt(0, &v, &a.res, t);
         a.text = t;
         EXPECT_EQ(v, 0);
         return a;
       },
       TPrgResult::noProg},
      {"GetFuses",
       [] {
         int32_t f = 9;
         Answer a{99, {}};
         char t[64];
         GetFuses(0, 'L', &f, &a.res, t);
         a.text = t;
         EXPECT_EQ(f, 255);
         return a;
       },
       TPrgResult::resNone},
  };
  for (const auto& c : cases) {
    Link(0).Fres = TPrgResult::resNone;  // as a programmer check leaves it while it runs
    Answer a = c.call();
    EXPECT_EQ(a.res, 3) << c.name;
    EXPECT_EQ(a.text, "TESK not found") << c.name;
    EXPECT_EQ(Link(0).Fres, c.fresAfter) << c.name;
  }
  EXPECT_EQ(Peer().OutCount(), 0);
}
