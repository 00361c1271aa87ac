// The firmware model's exchanges, driven over the bus by a bare host.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "tests/sim/SimHarness.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;

namespace {

constexpr uint8_t ACK = 0x06, NAK = 0x15, CR = 0x0D;

class ModelTest : public ::testing::Test {
 protected:
  SimHarness h;
};

TEST_F(ModelTest, IdentifyAnswersTheRecordInOnePacket) {
  struct Case {
    const char* model;
    uint32_t serial;
    bool firmwareLost;
  };
  for (const Case& c : {Case{"NURVA Prog", 0x12345678, false}, Case{"NURVA P/R", 0x00ABCDEF, true}}) {
    SCOPED_TRACE(c.model);
    sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
    cfg.identity.model = c.model;
    cfg.identity.serial = c.serial;
    cfg.identity.firmwareLost = c.firmwareLost;
    h.Start(cfg);
    ASSERT_TRUE(h.host.Cmd(0x00, 'I'));
    auto rec = h.host.Recv();
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->size(), sizeof(TDeviceRec));
    TDeviceRec r;
    std::memcpy(&r, rec->data(), sizeof r);
    EXPECT_EQ(r.DevName.Str(), c.model);
    EXPECT_EQ(r.DevName.len, std::strlen(c.model));
    const uint32_t serial = r.SerNum;  // packed: read by value
    EXPECT_EQ(serial, c.serial);
    EXPECT_EQ(r.FirmwLost, c.firmwareLost ? 1 : 0);
    EXPECT_EQ(r.Date.Str(), cfg.identity.date);
    EXPECT_TRUE(h.host.Drain(100).empty()) << "one packet only";
    h.Stop();
  }
}

TEST_F(ModelTest, CardStateAnswersOneCharacter) {
  h.Start(SampleConfig(h.CardDir()));
  const std::pair<sim::CardState, uint8_t> cases[] = {{sim::CardState::Ok, 0},
                                                      {sim::CardState::Missing, 1},
                                                      {sim::CardState::InitFailed, 2},
                                                      {sim::CardState::ResetFailed, 3},
                                                      {sim::CardState::CheckFailed, 4}};
  for (auto [state, expected] : cases) {
    SCOPED_TRACE(sim::CardStateName(state));
    h.With([&](sim::State& st) { st.card = state; });
    ASSERT_TRUE(h.host.Tesk('G'));
    EXPECT_EQ(h.host.Drain(), (std::vector<Bytes>{{expected}}));
  }
}

TEST_F(ModelTest, ReleaseAndVoltage) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('r');
  EXPECT_EQ(h.host.Drain(), (std::vector<Bytes>{{ACK}}));

  struct Case {
    bool powered;
    uint16_t voltage;
    Bytes word;
  };
  for (const Case& c : {Case{true, 330, {0x4A, 0x01}}, Case{true, 1234, {0xD2, 0x04}}, Case{false, 500, {0x00, 0x00}}}) {
    SCOPED_TRACE(c.voltage);
    h.With([&](sim::State& st) {
      st.target.powered = c.powered;
      st.target.voltage = c.voltage;
    });
    h.host.Tesk('T');
    EXPECT_EQ(h.host.Drain(), std::vector<Bytes>{c.word});
  }
}

// What the target check and the fuse read answer for each state of card, project and target.
struct TargetCase {
  const char* what;
  std::function<void(sim::State&)> setup;
  Bytes check;       // replies to 'Q' 'c'
  Bytes fuseLow;     // replies to 'Q' 'g' 'l'
  Bytes fuseDirect;  // replies to 'Q' 'g' 'L'
};

TEST_F(ModelTest, TargetCheckAndFuseReadFollowTheTargetState) {
  h.Start(SampleConfig(h.CardDir()));
  const auto fresh = h.With([](sim::State& st) { return st; });
  const uint8_t low = fresh.target.fuses.at(0);
  const TargetCase cases[] = {
      {"empty target", [](sim::State&) {}, {ACK, 0}, {CR, ACK, low}, {CR, ACK, low}},
      {"no project open", [](sim::State& st) { st.open.reset(); }, {NAK}, {NAK, 0}, {CR, ACK, low}},
      {"card missing", [](sim::State& st) { st.card = sim::CardState::Missing; }, {NAK}, {NAK, 0}, {CR, ACK, low}},
      {"power down", [](sim::State& st) { st.target.powered = false; }, {ACK, 1}, {NAK, 1}, {CR, NAK, 1}},
      {"wrong signature", [](sim::State& st) { st.target.idFault = true; }, {ACK, 3}, {NAK, 3}, {CR, NAK, 3}},
      {"other chip in the socket", [](sim::State& st) { st.target.signature = {0x1E, 0x98, 0x01}; }, {ACK, 3},
       {NAK, 3}, {CR, ACK, low}},
      {"protected", [](sim::State& st) { st.target.locked = true; }, {ACK, 4}, {CR, NAK, 4}, {CR, NAK, 4}},
      {"not empty", [](sim::State& st) { st.target.eeprom[7] = 0x00; }, {ACK, 5}, {CR, ACK, low}, {CR, ACK, low}},
      {"fuse changed", [](sim::State& st) { st.target.fuses[0] = 0xE2; }, {ACK, 0}, {CR, ACK, 0xE2}, {CR, ACK, 0xE2}},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.what);
    h.With([&](sim::State& st) {
      st = fresh;
      c.setup(st);
    });
    h.host.Tesk('Q');
    h.host.Send({'c'});
    EXPECT_EQ(Chars(h.host.Drain()), c.check);
    h.host.Tesk('Q');
    h.host.Send({'g'});
    h.host.Send({'l'});
    EXPECT_EQ(Chars(h.host.Drain()), c.fuseLow);
    h.host.Tesk('Q');
    h.host.Send({'g'});
    h.host.Send({'L'});
    EXPECT_EQ(Chars(h.host.Drain()), c.fuseDirect);
  }
}

TEST_F(ModelTest, FuseSelectors) {
  sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
  cfg.targetFuses = {{0, 0xE2}, {1, 0xD9}, {2, 0xFD}, {5, 0x3C}};
  h.Start(cfg);
  h.With([](sim::State& st) { st.target.lockBits = 0xFC; });
  const std::pair<uint8_t, Bytes> cases[] = {
      {'l', {CR, ACK, 0xE2}}, {'h', {CR, ACK, 0xD9}}, {'e', {CR, ACK, 0xFD}}, {'0', {CR, ACK, 0xE2}},
      {'5', {CR, ACK, 0x3C}}, {'k', {CR, ACK, 0xFC}}, {'K', {CR, ACK, 0xFC}},
      {'4', {CR, NAK, 2}},  // a fuse byte the chip does not have
      {'z', {CR, NAK, 2}},  // not a selector
  };
  for (const auto& [sel, replies] : cases) {
    SCOPED_TRACE(std::string(1, static_cast<char>(sel)));
    h.host.Tesk('Q');
    h.host.Send({'g'});
    h.host.Send({sel});
    EXPECT_EQ(Chars(h.host.Drain()), replies);
  }
}

TEST_F(ModelTest, EveryReplyIsAPacketOfItsOwn) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('Q');
  h.host.Send({'g'});
  h.host.Send({'h'});
  auto replies = h.host.Drain();
  ASSERT_EQ(replies.size(), 3u);
  for (const auto& r : replies) EXPECT_EQ(r.size(), 1u);
}

TEST_F(ModelTest, UnknownCommandsAreRefusedAndStrayPacketsIgnored) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('#');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{NAK});
  h.host.Tesk('Q');
  h.host.Send({'#'});
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{NAK});
  h.host.Cmd(0x01, 'G');  // a command type this programmer does not serve
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{NAK});

  // Packets that are not commands are skipped; the command after them is answered.
  h.host.Send({0x33});
  h.host.Send({0x01, 0x02, 0x03});
  h.host.Send({0x09, 'G'});
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0});
  auto count = h.With([](sim::State& st) { return st.count; });
  EXPECT_EQ(count.strayPackets, 3);
  EXPECT_EQ(count.unknownCommands, 3);
}

TEST_F(ModelTest, CommandWithoutItsArgumentIsAbandoned) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('Q');
  h.host.Send({'g'});
  // No selector: the command gives up after its argument wait and answers nothing.
  EXPECT_TRUE(h.host.Drain(sim::kArgWaitMs + 300).empty());
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0});
}

TEST_F(ModelTest, VendorRequestResetsACommandHalfwayThrough) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('Q');
  // The request travels on a connection of its own: wait until 'Q' is being served.
  for (int i = 0; i < 200 && h.With([](sim::State& st) { return st.count.commands; }) == 0; ++i)
    std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(h.host.VendorRequest());
  // Without the reset this 'G' would be taken as the letter after 'Q'.
  h.host.Tesk('G');
  EXPECT_EQ(Chars(h.host.Drain()), Bytes{0});
  EXPECT_EQ(h.With([](sim::State& st) { return st.count.vendorRequests; }), 1);
}

TEST_F(ModelTest, LostFirmwareAnswersOnlyTheIdentify) {
  sim::ProgrammerConfig cfg = SampleConfig(h.CardDir());
  cfg.identity.firmwareLost = true;
  h.Start(cfg);
  h.host.Tesk('G');
  h.host.Tesk('T');
  EXPECT_TRUE(h.host.Drain().empty());
  h.host.Cmd(0x00, 'I');
  auto rec = h.host.Drain();
  ASSERT_EQ(rec.size(), 1u);
  EXPECT_EQ(rec[0][39], 1);  // FirmwLost
}

TEST_F(ModelTest, VerboseLogNamesCommandsAndReplies) {
  h.Start(SampleConfig(h.CardDir()));
  h.host.Tesk('T');
  ASSERT_EQ(h.host.Drain().size(), 1u);
  auto lines = h.log.Lines();
  auto has = [&](const std::string& s) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(s) != std::string::npos; });
  };
  EXPECT_TRUE(has("<- 02 54   'T' target voltage"));
  EXPECT_TRUE(has("-> 4A 01"));
}

}  // namespace
