// Discovery and the channel list: AbortAll, GetProgIDs, ClosePort.
#include "tests/api/api_fixture.h"
#include "usbio/USBIO_I.h"

using namespace nurva;
using namespace nurva::test;

namespace {
long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}
std::string ProgIds(int32_t& count) {
  char text[NURVA_TEXT_BUFFER_SIZE];
  count = -1;
  GetProgIDs(&count, text);
  return text;
}
}  // namespace

TEST_F(ApiTest, NoDeviceFindsNothingAfterAboutOneSecond) {
  auto t0 = Clock::now();
  EXPECT_EQ(AbortAll(), 0);
  long ms = MsSince(t0);
  EXPECT_GE(ms, 950);
  EXPECT_LT(ms, 2500);
  int32_t count;
  EXPECT_EQ(ProgIds(count), "");
  EXPECT_EQ(count, 0);
  Answer a = Call(CheckDevice, 0);
  EXPECT_EQ(a.res, 3);
  EXPECT_EQ(a.text, "illegal port number");
}

TEST_F(ApiTest, StrangerIsDroppedAndProgrammersKeepDeviceOrder) {
  AddProgrammer(123456, kModelProg);
  AddProgrammer(777, "NURVA Probe");
  AddProgrammer(11259375, kModelPR);
  EXPECT_EQ(AbortAll(), 1) << "true: a device answered with another name";
  int32_t count;
  EXPECT_EQ(ProgIds(count), "0001E240\r\n00ABCDEF");
  EXPECT_EQ(count, 2);
  ASSERT_EQ(api::RdrList->GetCount(), 2);
  EXPECT_EQ(Link(0).Index(), 0);
  EXPECT_EQ(Link(1).Index(), 2);
}

TEST_F(ApiTest, ModelNameMustMatchExactly) {
  struct Case {
    std::string name;
    bool kept;
  };
  const Case cases[] = {{"NURVA Prog", true}, {"NURVA P/R", true}, {"NURVA Prog ", false},
                        {"nurva prog", false}, {"NURVA", false},    {"", false}};
  for (const auto& c : cases) AddProgrammer(1, c.name);
  EXPECT_EQ(AbortAll(), 1);
  int kept = 0;
  for (const auto& c : cases) kept += c.kept;
  EXPECT_EQ(api::RdrList->GetCount(), kept);
}

TEST_F(ApiTest, ShortIdentifyIsRetriedFiveTimesThenEndsTheEnumeration) {
  // Device 0 answers the identify with only 40 bytes; device 1 is a programmer.
  auto& shortOne = *peers.emplace_back(std::make_unique<ScriptedPeer>(bus, "dev00"));
  shortOne.On({0x00, 'I'}).Always().Send({Pkt(Bytes(40, 'N'))});
  ScriptedPeer& next = AddProgrammer(42);

  auto t0 = Clock::now();
  EXPECT_EQ(AbortAll(), 0);
  long ms = MsSince(t0);
  // 1 s start, then a 2 s pause before each of the four retries.
  EXPECT_GE(ms, 8500);
  EXPECT_LT(ms, 14000);

  int identifies = 0, vendor = 0;
  for (const auto& e : shortOne.Log()) {
    if (e.kind == Event::Kind::Out && e.Payload() == Bytes{0x00, 'I'}) ++identifies;
    if (e.kind == Event::Kind::Request && e.code == usbio::IOCTL_USBIO_CLASS_OR_VENDOR_OUT_REQUEST) ++vendor;
  }
  EXPECT_EQ(identifies, 5);
  EXPECT_EQ(vendor, 4) << "one vendor request between attempts";
  EXPECT_EQ(next.OutCount(), 0) << "the devices after it are not probed";

  ASSERT_EQ(api::RdrList->GetCount(), 1) << "the link stays, disconnected";
  EXPECT_FALSE(Link(0).Connected());
  int32_t count;
  EXPECT_EQ(ProgIds(count), "");
  EXPECT_EQ(count, 0);
  for (auto fn : {CheckDevice, ReleaseTarget}) {
    Answer a = Call(fn, 0);
    EXPECT_EQ(a.res, 3);
    EXPECT_EQ(a.text, "TESK not found");
  }
  EXPECT_EQ(shortOne.OutCount(), identifies) << "nothing sent on the failed link";
}

TEST_F(ApiTest, SilentDeviceIsRetriedAndStaysAsTheLastChannel) {
  AddProgrammer(0x11);
  peers.emplace_back(std::make_unique<ScriptedPeer>(bus, "dev01"));  // never answers the identify
  auto t0 = Clock::now();
  AbortAll();
  // Five 2 s waits for a reply, four 2 s pauses between them.
  EXPECT_GE(MsSince(t0), 1000 + 5 * 2000 + 4 * 2000 - 500);
  ASSERT_EQ(api::RdrList->GetCount(), 2);
  EXPECT_TRUE(Link(0).Connected());
  EXPECT_FALSE(Link(1).Connected());
  EXPECT_EQ(Link(1).Fres, TPrgResult::noProg);
}

TEST_F(ApiTest, SecondDiscoveryFreesTheFirstListAndNumbersAfresh) {
  AddProgrammer(0xA);
  AddProgrammer(0xB);
  AbortAll();
  ASSERT_EQ(api::RdrList->GetCount(), 2);
  peers.erase(peers.begin());  // device 0 unplugged
  AbortAll();
  ASSERT_EQ(api::RdrList->GetCount(), 1);
  int32_t count;
  EXPECT_EQ(ProgIds(count), "0000000B");
  EXPECT_EQ(Call(InitChannel, 0).text, "prog OK") << "the new channel 0 works";
}

TEST_F(ApiTest, GetProgIdsOfOneProgrammer) {
  AddProgrammer(305419896);
  AbortAll();
  int32_t count;
  EXPECT_EQ(ProgIds(count), "12345678");
  EXPECT_EQ(count, 1);
}

TEST_F(ApiTest, ClosePortClosesNothing) {
  struct Case {
    int32_t channel;
    int32_t res;
    const char* text;
  };
  // Before discovery there are no channels at all.
  for (Case c : {Case{0, 3, "illegal port number"}, Case{-1, 3, "illegal port number"}}) {
    Answer a = Call(ClosePort, c.channel);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(a.text, c.text);
  }
  Discover(1);
  for (Case c : {Case{0, 0, "port closed"}, Case{1, 3, "illegal port number"}, Case{-1, 3, "illegal port number"}}) {
    Answer a = Call(ClosePort, c.channel);
    EXPECT_EQ(a.res, c.res) << c.channel;
    EXPECT_EQ(a.text, c.text) << c.channel;
  }
  EXPECT_EQ(Call(CheckProgrammer, 0).res, 39) << "the link is still usable";
}
