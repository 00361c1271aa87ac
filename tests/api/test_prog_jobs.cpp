// Erase, program and verify: the twelve commands' packets, their answers, and the start
// answer's wait.
#include "tests/api/api_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

using Export = void (*)(int32_t, int32_t*, char*);

class ProgJobsTest : public ApiTest {
 protected:
  void SetUp() override { Discover(1); }
  ScriptedPeer& Peer() { return *peers[0]; }
  void Rescript() {
    peers[0].reset();
    peers[0] = std::make_unique<ScriptedPeer>(bus, "dev00");
    peers[0]->Identify(ProgrammerRec(kModelProg, 0x1000));
    Link(0).Disconnect();
    ASSERT_TRUE(Link(0).Connect(0));
    Peer().ClearLog();
  }
  // Waits until the link has queued `n` packets.
  bool Queued(int n) {
    for (int i = 0; i < 300; ++i) {
      if (Link(0).QueuedPackets() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

std::vector<Pkt> Replies(const Bytes& chars) {
  std::vector<Pkt> r;
  for (uint8_t c : chars) r.push_back(Pkt({c}));
  return r;
}

enum class Kind { Erase, Start };

// The twelve commands as the host sees them.
struct Command {
  const char* name;
  Export fn;
  Bytes sent;        // payloads after 0x02 'Q'
  Kind kind;
  bool notEmptyOk;   // a start answered 0x05 counts as started
  const char* successText;
  TOpMode modeAfter;
};

const Command kCommands[] = {
    {"EraseDevice", EraseDevice, {'E'}, Kind::Erase, false, "chip erased", TOpMode::opProg},
    {"EraseDeviceX", EraseDeviceX, {'G'}, Kind::Erase, false, "chip erased", TOpMode::opProg},
    {"EraseDeviceUsr", EraseDeviceUsr, {'R'}, Kind::Erase, false, "chip erased", TOpMode::opProg},
    {"ProgDevice", ProgDevice, {'P'}, Kind::Start, true, "programming", TOpMode::opProg},
    {"ProgEEprom", ProgEEprom, {'e'}, Kind::Start, true, "prog EEprom", TOpMode::opProg},
    {"ProgFlash", ProgFlash, {'f'}, Kind::Start, false, "prog Flash", TOpMode::opProg},
    {"ProgUsrRow", ProgUsrRow, {'U'}, Kind::Start, true, "prog UsrRow", TOpMode::opProg},
    {"ProgFuses", ProgFuses, {'F'}, Kind::Start, true, "fuses programmed", TOpMode::opIdle},
    {"ProgLockBits", ProgLockBits, {'L'}, Kind::Start, true, "locks programmed", TOpMode::opIdle},
    {"VerifyDevice", VerifyDevice, {'V', 0x00}, Kind::Start, false, "verifying", TOpMode::opVerify},
    {"VerifyEEpromOnly", VerifyEEpromOnly, {'d', 0x00}, Kind::Start, false, "verifying", TOpMode::opVerify},
    {"VerifyFlashOnly", VerifyFlashOnly, {'v', 0x00}, Kind::Start, false, "verifying", TOpMode::opVerify},
};

std::vector<Bytes> Packets(const Command& c) {
  std::vector<Bytes> p{{0x02, 'Q'}};
  for (uint8_t b : c.sent) p.push_back({b});
  return p;
}

}  // namespace

TEST_F(ProgJobsTest, TwelveCommandsSendTheirLettersAndTakeTheirAnswers) {
  for (const Command& c : kCommands) {
    SCOPED_TRACE(c.name);
    // Accepted: ACK (erase: ACK, ACK, 0x00). The mode before is opProg, so an erase, which
    // leaves it, shows as opProg afterwards.
    Rescript();
    Link(0).OpMode = TOpMode::opProg;
    Peer().On({c.sent.back()}).Send(Replies(c.kind == Kind::Erase ? Bytes{kACK, kACK, 0x00} : Bytes{kACK}));
    Answer a = Call(c.fn, 0, 99);
    EXPECT_EQ(a.text, c.successText);
    EXPECT_EQ(a.res, 1);
    EXPECT_EQ(Link(0).OpMode, c.modeAfter);
    EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
    EXPECT_EQ(Peer().OutPayloads(), Packets(c));
    EXPECT_FALSE(Link(0).busy.load());

    // 0x05: started for the programming commands but ProgFlash; refused for the others.
    if (c.kind == Kind::Start) {
      Rescript();
      Peer().On({c.sent.back()}).Send(Replies({0x05}));
      a = Call(c.fn, 0, 99);
      if (c.notEmptyOk) {
        EXPECT_EQ(a.text, c.successText);
        EXPECT_EQ(a.res, 1);
        EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
        EXPECT_EQ(Link(0).OpMode, c.modeAfter);
      } else {
        EXPECT_EQ(a.text, "device not empty");
        EXPECT_EQ(a.res, 20);
        EXPECT_EQ(Link(0).Fres, TPrgResult::NotEmptyErr);
        EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
      }
    }

    // A status left over from an earlier job: the start commands drop it first, an erase
    // does not and takes it for its first reply.
    Rescript();
    Peer().Push({Pkt({'F'})});
    ASSERT_TRUE(Queued(1));
    Peer().On({c.sent.back()}).Send(Replies(c.kind == Kind::Erase ? Bytes{kACK, kACK, 0x00} : Bytes{kACK}));
    a = Call(c.fn, 0, 99);
    if (c.kind == Kind::Erase) {
      EXPECT_EQ(a.text, "file error");
      EXPECT_EQ(a.res, 33);
    } else {
      EXPECT_EQ(a.text, c.successText);
      EXPECT_EQ(a.res, 1);
    }
  }
}

TEST_F(ProgJobsTest, EveryStartAnswer) {
  struct Case {
    const char* name;
    Export fn;
    uint8_t letter;
    uint8_t reply;
    const char* text;
    int32_t res;
    TPrgResult fres;
    TOpMode mode;
  };
  const Case cases[] = {
      {"ProgFlash", ProgFlash, 'f', kACK, "prog Flash", 1, TPrgResult::resOk, TOpMode::opProg},
      {"ProgFlash", ProgFlash, 'f', kNAK, "File Error", 37, TPrgResult::FileErr, TOpMode::opIdle},
      {"ProgFlash", ProgFlash, 'f', 0x01, "device power down", 10, TPrgResult::PwrDownErr, TOpMode::opIdle},
      {"ProgFlash", ProgFlash, 'f', 0x03, "wrong device ID", 12, TPrgResult::SignatureErr, TOpMode::opIdle},
      {"ProgFlash", ProgFlash, 'f', 0x04, "device protected", 19, TPrgResult::ProtectedErr, TOpMode::opIdle},
      {"ProgFlash", ProgFlash, 'f', 0x05, "device not empty", 20, TPrgResult::NotEmptyErr, TOpMode::opIdle},
      {"ProgFlash", ProgFlash, 'f', 0x08, "communication error", 9, TPrgResult::progTimeOutErr, TOpMode::opIdle},
      {"VerifyDevice", VerifyDevice, 0x00, 0x04, "device protected", 19, TPrgResult::ProtectedErr, TOpMode::opIdle},
      // An answer outside the table: ProgDevice reports a started job, the others a
      // communication error, whatever the host's res held.
      {"ProgFlash", ProgFlash, 'f', 'x', "communication error", 9, TPrgResult::progTimeOutErr, TOpMode::opIdle},
      {"VerifyDevice", VerifyDevice, 0x00, 0x02, "communication error", 9, TPrgResult::progTimeOutErr,
       TOpMode::opIdle},
      {"ProgFuses", ProgFuses, 'F', 0xC8, "communication error", 9, TPrgResult::progTimeOutErr, TOpMode::opIdle},
      {"ProgDevice", ProgDevice, 'P', 'x', "programming", 1, TPrgResult::resOk, TOpMode::opProg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " answered " + std::to_string(c.reply));
    for (int32_t preset : {99, 200, -7}) {
      Rescript();
      Link(0).OpMode = TOpMode::opVerify;
      Peer().On({c.letter}).Send(Replies({c.reply}));
      Answer a = Call(c.fn, 0, preset);
      EXPECT_EQ(a.text, c.text);
      EXPECT_EQ(a.res, c.res);
      EXPECT_EQ(Link(0).Fres, c.fres);
      EXPECT_EQ(Link(0).OpMode, c.mode);
      EXPECT_EQ(Link(0).RxTimeOut(), kDefaultRxTimeOutMs);
    }
  }
}

TEST_F(ProgJobsTest, WaitProgResultLeavesAnUnknownAnswerUndecided) {
  // Behind the commands: an answer outside the table writes no code and no text, and a
  // code outside the result codes never reaches the link's status.
  Peer().Push({Pkt({'x'})});
  int32_t r = 200;
  Link(0).Fres = TPrgResult::progFound;
  Link(0).OpMode = TOpMode::opProg;
  EXPECT_EQ(Link(0).WaitProgResult(r), "");
  EXPECT_EQ(r, 200);
  EXPECT_EQ(Link(0).Fres, TPrgResult::progFound);
  EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
}

TEST_F(ProgJobsTest, AStartWithoutAnswerGivesUpAfter3000ms) {
  Link(0).OpMode = TOpMode::opProg;
  const auto t0 = Clock::now();
  Answer a = Call(ProgDevice, 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_EQ(a.text, "File Error");
  EXPECT_EQ(a.res, 37);
  EXPECT_GE(ms, 3000 - 50);
  EXPECT_LT(ms, 3000 + 1500);
  EXPECT_EQ(Link(0).Fres, TPrgResult::FileErr);
  EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
  EXPECT_EQ(Link(0).RxTimeOut(), kDefaultRxTimeOutMs);
}

TEST_F(ProgJobsTest, EraseReplyPaths) {
  struct Case {
    Bytes replies;
    const char* text;
    int32_t res;
    int leftQueued;  // replies the erase did not read
  };
  const Case cases[] = {
      {{kACK, kACK, 0x00}, "chip erased", 1, 0},
      {{kACK, kACK, 0x05}, "erased failed", 20, 0},
      {{kACK, kACK, kNAK}, "erased failed", 20, 0},
      {{kACK, kNAK, 0x00}, "power down", 10, 1},
      {{kACK, 0x00, 0x00}, "power down", 10, 1},
      {{kNAK, kACK, 0x00}, "file error", 33, 2},
      {{'x', kACK, 0x00}, "file error", 33, 2},
  };
  for (const Command& cmd : {kCommands[0], kCommands[1], kCommands[2]}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(cmd.name) + " " + c.text);
      Rescript();
      Link(0).OpMode = TOpMode::opVerify;
      Peer().On({cmd.sent[0]}).Send(Replies(c.replies));
      Answer a = Call(cmd.fn, 0, 99);
      EXPECT_EQ(a.text, c.text);
      EXPECT_EQ(a.res, c.res);
      EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
      EXPECT_EQ(Link(0).OpMode, TOpMode::opVerify);
      EXPECT_TRUE(Queued(c.leftQueued)) << Link(0).QueuedPackets();
    }
  }
}

TEST_F(ProgJobsTest, NothingIsSentWithoutAProgrammer) {
  for (const Command& c : kCommands) {
    for (TPrgResult absent : {TPrgResult::noProg, TPrgResult::resNone}) {
      Link(0).Fres = absent;
      Link(0).OpMode = TOpMode::opProg;
      Answer a = Call(c.fn, 0, 99);
      EXPECT_EQ(a.text, "TESK not found") << c.name;
      EXPECT_EQ(a.res, 3) << c.name;
      EXPECT_EQ(Link(0).Fres, absent) << c.name;
      EXPECT_EQ(Link(0).OpMode, TOpMode::opProg) << c.name;
    }
  }
  EXPECT_EQ(Peer().OutCount(), 0);
}

TEST_F(ProgJobsTest, ChannelAnswersAndNullPointers) {
  for (const Command& c : kCommands) {
    EXPECT_EQ(Call(c.fn, 1).text, "illegal port number") << c.name;
    EXPECT_EQ(Call(c.fn, -1).res, 3) << c.name;
    Link(0).busy = true;
    Answer a = Call(c.fn, 0);
    EXPECT_EQ(a.text, "Busy") << c.name;
    EXPECT_EQ(a.res, 5) << c.name;
    EXPECT_TRUE(Link(0).busy.load()) << "the mark stays with its owner";
    Link(0).busy = false;
  }
  // Behind the export layer, a missing link answers "closed".
  using Method = std::string (TUSBRdrLst::*)(int32_t, int32_t&);
  for (Method m : {&TUSBRdrLst::EraseDevice, &TUSBRdrLst::EraseDeviceX, &TUSBRdrLst::EraseDeviceUsr,
                   &TUSBRdrLst::ProgDevice, &TUSBRdrLst::ProgEEprom, &TUSBRdrLst::ProgFlash, &TUSBRdrLst::ProgUsrRow,
                   &TUSBRdrLst::ProgFuses, &TUSBRdrLst::ProgLockBits, &TUSBRdrLst::VerifyDevice,
                   &TUSBRdrLst::VerifyEEpromOnly, &TUSBRdrLst::VerifyFlashOnly}) {
    int32_t r = 99;
    EXPECT_EQ((api::RdrList->*m)(7, r), "USB channel 7 closed");
    EXPECT_EQ(r, 3);
  }
  EXPECT_EQ(Peer().OutCount(), 0);
  // Null result and text pointers are skipped.
  Peer().On({'P'}).Send(Replies({kACK}));
  ProgDevice(0, nullptr, nullptr);
  EXPECT_EQ(Link(0).OpMode, TOpMode::opProg);
  Peer().On({0x00}).Send(Replies({kACK}));
  int32_t res = 99;
  VerifyDevice(0, &res, nullptr);
  EXPECT_EQ(res, 1);
  char text[64];
  Peer().On({'f'}).Send(Replies({kACK}));
  ProgFlash(0, nullptr, text);
  EXPECT_STREQ(text, "prog Flash");
}

TEST_F(ApiTest, JobCommandsBeforeDiscovery) {
  for (const Command& c : kCommands) {
    Answer a = Call(c.fn, 0, 99);
    EXPECT_EQ(a.text, "USB not connected!!") << c.name;
    EXPECT_EQ(a.res, 5) << c.name;
  }
}
