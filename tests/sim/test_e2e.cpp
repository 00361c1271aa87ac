// The library's exports, through its public header only, against virtual programmers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("LC_ALL", "C", 1); }

  // Serves programmers made from `cfgs` and runs discovery.
  void Serve(std::vector<sim::ProgrammerConfig> cfgs) {
    for (size_t i = 0; i < cfgs.size(); ++i) {
      cfgs[i].socketName = "prog-" + std::to_string(i);
      progs.push_back(std::make_unique<sim::VirtualProgrammer>(bus.Dir(), cfgs[i]));
      std::string err;
      ASSERT_TRUE(progs.back()->Start(&err)) << err;
    }
    AbortAll();
  }
  void ServeOne(std::initializer_list<const char*> faults = {}) {
    sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
    for (const char* f : faults) ASSERT_TRUE(sim::ParseFault(f, cfg.faults, nullptr)) << f;
    Serve({cfg});
    ASSERT_EQ(Call(ClosePort, 0).res, NURVA_RES_resNone);
  }
  template <class F>
  auto With(F&& f) {
    return progs[0]->Fw().With(std::forward<F>(f));
  }
  sim::State Fresh() {
    return With([](sim::State& st) { return st; });
  }

  TestBus bus;
  TempDir cards;
  std::vector<std::unique_ptr<sim::VirtualProgrammer>> progs;
};

TEST_F(EndToEnd, DiscoveryKeepsProgrammersAndDropsAStranger) {
  sim::ProgrammerConfig a = SampleConfig(cards.Path() / "a", 0x12345678);
  sim::ProgrammerConfig stranger = SampleConfig(cards.Path() / "b", 0x0BADF00D);
  stranger.identity.model = "NURVA Prog ";
  sim::ProgrammerConfig c = SampleConfig(cards.Path() / "c", 0x0000ABCD);
  c.identity.model = "NURVA P/R";
  Serve({a, stranger, c});

  int32_t count = -1;
  char text[NURVA_TEXT_BUFFER_SIZE] = "#";
  GetProgIDs(&count, text);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(text, "12345678\r\n0000ABCD");
  EXPECT_EQ(Call(ClosePort, 1).res, NURVA_RES_resNone);
  EXPECT_EQ(Call(ClosePort, 2).text, "illegal port number");
  // Channel 1 is the third device: the P/R.
  EXPECT_EQ(Call(CheckProgrammer, 1).text, "TESK at Port 0000ABCD");
}

TEST_F(EndToEnd, ProgrammerCheckFollowsTheCard) {
  ServeOne();
  const std::tuple<sim::CardState, int32_t, const char*> cases[] = {
      {sim::CardState::Ok, NURVA_RES_MMCok, "TESK at Port 12345678"},
      {sim::CardState::Missing, NURVA_RES_MMCmissing, "TESK found, no flashcard"},
      {sim::CardState::InitFailed, NURVA_RES_MMCinitFailed, "TESK found, MMC init failed"},
      {sim::CardState::ResetFailed, NURVA_RES_MMCresetFailed, "TESK found, MMC reset failed"},
      {sim::CardState::CheckFailed, NURVA_RES_MMCcheckFailed, "TESK found, MMC check failed"},
  };
  for (auto [state, res, text] : cases) {
    SCOPED_TRACE(text);
    With([&](sim::State& st) { st.card = state; });
    Answer a = Call(CheckProgrammer, 0);
    EXPECT_EQ(a.res, res);
    EXPECT_EQ(a.text, text);
  }
  Answer init = Call(InitChannel, 0);
  EXPECT_EQ(init.res, NURVA_RES_progFound);
  EXPECT_EQ(init.text, "prog OK");
}

TEST_F(EndToEnd, LostFirmware) {
  sim::ProgrammerConfig cfg = SampleConfig(cards.Path() / "card");
  cfg.identity.firmwareLost = true;
  Serve({cfg});
  Answer init = Call(InitChannel, 0);
  EXPECT_EQ(init.res, NURVA_RES_progDefect);
  EXPECT_EQ(init.text, "TESK lost Firmware");
  // The loader does not answer the card state: silence reads as a usable card.
  EXPECT_EQ(Call(CheckProgrammer, 0).res, NURVA_RES_MMCok);
}

struct TargetCase {
  const char* what;
  std::function<void(sim::State&)> setup;
  int32_t deviceRes;
  const char* deviceText;
  int32_t fuseRes;
  const char* fuseText;
};

TEST_F(EndToEnd, TargetCheckVoltageAndFuseFollowTheTarget) {
  ServeOne();
  const sim::State fresh = Fresh();
  const TargetCase cases[] = {
      {"empty", [](sim::State&) {}, NURVA_RES_resOk, "empty", NURVA_RES_resOk, "62"},
      {"fuse E2", [](sim::State& st) { st.target.fuses[0] = 0xE2; }, NURVA_RES_resOk, "empty", NURVA_RES_resOk, "E2"},
      {"power down", [](sim::State& st) { st.target.powered = false; }, NURVA_RES_PwrDownErr, "power down",
       NURVA_RES_PwrDownErr, "device power down"},
      {"wrong signature", [](sim::State& st) { st.target.idFault = true; }, NURVA_RES_SignatureErr, "wrong ID",
       NURVA_RES_SignatureErr, "wrong device ID"},
      {"protected", [](sim::State& st) { st.target.locked = true; }, NURVA_RES_ProtectedErr, "protected",
       NURVA_RES_ProtectedErr, "device protected"},
      {"not empty", [](sim::State& st) { st.target.flash[3] = 0x12; }, NURVA_RES_NotEmptyErr, "not empty",
       NURVA_RES_resOk, "62"},
      {"no project", [](sim::State& st) { st.open.reset(); }, NURVA_RES_FileErr, "File error", NURVA_RES_FileNotFound,
       "File error"},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.what);
    With([&](sim::State& st) {
      st = fresh;
      c.setup(st);
    });
    Answer dev = Call(CheckDevice, 0);
    EXPECT_EQ(dev.res, c.deviceRes);
    EXPECT_EQ(dev.text, c.deviceText);

    int32_t fuse = -1;
    Answer f{99, {}};
    char text[NURVA_TEXT_BUFFER_SIZE] = "#";
    GetFuses(0, 'l', &fuse, &f.res, text);
    f.text = text;
    EXPECT_EQ(f.res, c.fuseRes);
    EXPECT_EQ(f.text, c.fuseText);
    if (c.fuseRes == NURVA_RES_resOk)
      EXPECT_EQ(fuse, std::stoi(c.fuseText, nullptr, 16));
    else
      EXPECT_EQ(fuse, 255);
  }
}

TEST_F(EndToEnd, FuseSelectorsReachTheModel) {
  ServeOne();
  With([](sim::State& st) {
    st.target.fuses = {{0, 0xE2}, {1, 0xD9}, {2, 0xFD}};
    st.target.lockBits = 0x3C;
  });
  const std::tuple<char, int32_t, int32_t, const char*> cases[] = {
      {'h', NURVA_RES_resOk, 0xD9, "D9"},
      {'E', NURVA_RES_resOk, 0xFD, "FD"},
      {'k', NURVA_RES_resOk, 0x3C, "3C"},
      {'7', NURVA_RES_progTimeOutErr, 255, "communication error"},  // no such fuse byte
  };
  for (auto [sel, res, value, text] : cases) {
    SCOPED_TRACE(sel);
    int32_t fuse = -1, r = 99;
    char t[NURVA_TEXT_BUFFER_SIZE] = "#";
    GetFuses(0, sel, &fuse, &r, t);
    EXPECT_EQ(r, res);
    EXPECT_EQ(fuse, value);
    EXPECT_STREQ(t, text);
  }
}

TEST_F(EndToEnd, VoltageAndRelease) {
  ServeOne();
  const std::tuple<bool, uint16_t, int32_t, const char*> cases[] = {
      {true, 330, 330, "3.3"}, {true, 500, 500, "5"}, {true, 1234, 1234, "12.34"}, {false, 330, 0, "0"}};
  for (auto [powered, centi, volt, text] : cases) {
    SCOPED_TRACE(text);
    With([&](sim::State& st) {
      st.target.powered = powered;
      st.target.voltage = centi;
    });
    int32_t v = -1, res = 99;
    char t[NURVA_TEXT_BUFFER_SIZE] = "#";
    GetTargVolt(0, &v, &res, t);
    EXPECT_EQ(res, NURVA_RES_resOk);
    EXPECT_EQ(v, volt);
    EXPECT_STREQ(t, text);
  }
  Answer rel = Call(ReleaseTarget, 0);
  EXPECT_EQ(rel.res, NURVA_RES_resOk);
  EXPECT_EQ(rel.text, "target release");
}

TEST_F(EndToEnd, DelayedRepliesWithinAndBeyondTheLimit) {
  ServeOne({"card=missing"});
  With([](sim::State& st) { st.faults.replyDelayMs = 300; });
  EXPECT_EQ(Call(CheckProgrammer, 0).res, NURVA_RES_MMCmissing);
  // Later than the link waits: taken as no answer.
  With([](sim::State& st) { st.faults.replyDelayMs = 2300; });
  EXPECT_EQ(Call(CheckProgrammer, 0).res, NURVA_RES_MMCok);
}

TEST_F(EndToEnd, ASilentOrUnpluggedProgrammer) {
  ServeOne();
  const int before = With([](sim::State& st) { return st.count.outPackets; });
  With([&](sim::State& st) { st.faults.silentAfter = before; });
  Answer dev = Call(CheckDevice, 0);
  EXPECT_EQ(dev.res, NURVA_RES_FileErr);
  EXPECT_EQ(dev.text, "File error");

  With([&](sim::State& st) {
    st.faults.silentAfter = -1;
    st.faults.unplugAfter = st.count.outPackets + 1;
  });
  Answer gone = Call(CheckDevice, 0);
  EXPECT_EQ(gone.res, NURVA_RES_FileErr);
  EXPECT_FALSE(progs[0]->Device().Plugged());
  // Discovery no longer finds it.
  AbortAll();
  int32_t count = -1;
  char text[NURVA_TEXT_BUFFER_SIZE];
  GetProgIDs(&count, text);
  EXPECT_EQ(count, 0);
}

}  // namespace
