// The programmer link against a scripted peer on the virtual bus.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/ScriptedPeer.h"
#include "transport/URecBufMulti.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;

namespace {

// Opens the protected primitives to the tests.
class Link : public TUSBreader {
 public:
  Link() : TUSBreader(nullptr) {}
  using TUSBreader::FlushTxBlock;
  using TUSBreader::RxPacket;
  using TUSBreader::TxPacket;
  using TUSBreader::TxWord;
};

long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ScriptedPeer>(bus, "dev0");
    ASSERT_TRUE(link.Connect(0));
    ASSERT_TRUE(peer->WaitForInBound(2000));
  }
  // Frames the peer received, header included.
  std::vector<Bytes> OutFrames() const {
    std::vector<Bytes> r;
    for (const auto& e : peer->Log())
      if (e.kind == Event::Kind::Out) r.push_back(e.bytes);
    return r;
  }
  // Sends `pkts` from the peer and gives the link time to queue them.
  void Deliver(std::vector<Pkt> pkts) {
    peer->Push(std::move(pkts));
    std::this_thread::sleep_for(100ms);
  }

  TestBus bus;
  std::unique_ptr<ScriptedPeer> peer;
  Link link;
};

}  // namespace

TEST_F(LinkTest, SendPrimitivesFrameExactly) {
  struct Case {
    const char* what;
    std::function<bool(Link&)> send;
    std::vector<Bytes> frames;
  };
  TString64 empty{};
  TString64 ab{};
  ab.Assign("AB");
  const Case cases[] = {
      {"TxCmd CTRL I", [](Link& l) { return l.TxCmd(TCmdTyp::CTRLcmd, 'I'); }, {{0x02, 0x00, 0x00, 0x49}}},
      {"TxCmd TESK Q", [](Link& l) { return l.TxCmd(TCmdTyp::TESKcmd, 'Q'); }, {{0x02, 0x00, 0x02, 0x51}}},
      {"TxCmd DEB x", [](Link& l) { return l.TxCmd(TCmdTyp::DEBcmd, 'x'); }, {{0x02, 0x00, 0x03, 'x'}}},
      {"TxChar", [](Link& l) { return l.TxChar('c'); }, {{0x01, 0x00, 'c'}}},
      {"TxByte", [](Link& l) { return l.TxByte(0xE2); }, {{0x01, 0x00, 0xE2}}},
      {"TxWord", [](Link& l) { return l.TxWord(0x1234); }, {{0x02, 0x00, 0x34, 0x12}}},
      {"TxLongWord -1", [](Link& l) { return l.TxLongWord(-1); }, {{0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}}},
      {"TxLongWord", [](Link& l) { return l.TxLongWord(0x01020304); }, {{0x04, 0x00, 0x04, 0x03, 0x02, 0x01}}},
      {"TxString empty", [&](Link& l) { return l.TxString(empty); }, {{0x02, 0x00, 0x01, 0x00}, {0x01, 0x00, 0x00}}},
      {"TxString AB",
       [&](Link& l) { return l.TxString(ab); },
       {{0x02, 0x00, 0x03, 0x00}, {0x03, 0x00, 0x02, 0x41, 0x42}}},
      {"FlushTxBlock",
       [](Link& l) {
         l.FTxBlock[0] = 0xAA;
         l.FTxBlock[1] = 0xBB;
         l.FTxCount = 2;
         l.FlushTxBlock();
         return l.FTxCount == 0;
       },
       {{0x02, 0x00, 0xAA, 0xBB}}},
  };
  for (const auto& c : cases) {
    peer->ClearLog();
    ASSERT_TRUE(c.send(link)) << c.what;
    ASSERT_TRUE(peer->WaitForOut(peer->OutCount(), 500));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(OutFrames(), c.frames) << c.what;
  }
}

TEST_F(LinkTest, StringLongerThanItsCapacityIsSentCut) {
  TString64 s;
  std::memset(&s, 'z', sizeof s);
  s.len = 90;  // corrupt length byte
  ASSERT_TRUE(link.TxString(s));
  std::this_thread::sleep_for(50ms);
  auto frames = OutFrames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Bytes{0x02, 0x00, 65, 0x00}));
  ASSERT_EQ(frames[1].size(), 2u + 65u);
  EXPECT_EQ(frames[1][2], 64);
}

TEST_F(LinkTest, EmptyPacketIsNotSentAndAClosedLinkSendsNothing) {
  EXPECT_TRUE(link.TxPacket(nullptr, 0));
  uint8_t big[600] = {};
  EXPECT_FALSE(link.TxPacket(big, 520)) << "more than a frame holds";
  link.Disconnect();
  EXPECT_FALSE(link.TxChar('x'));
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(OutFrames().empty());
}

TEST_F(LinkTest, EmptyQueueTimesOutWithNakAndALatePacketWaitsForTheNextReceive) {
  char ch = 0;
  auto t0 = Clock::now();
  EXPECT_FALSE(link.RxChar(ch));
  long ms = MsSince(t0);
  EXPECT_EQ(ch, kNAK);
  EXPECT_TRUE(link.stopped);
  EXPECT_GE(ms, 1950);
  EXPECT_LT(ms, 3000);

  Deliver({Pkt({'k'})});
  t0 = Clock::now();
  EXPECT_TRUE(link.RxChar(ch));
  EXPECT_LT(MsSince(t0), 50);
  EXPECT_EQ(ch, 'k');
  EXPECT_FALSE(link.stopped);
}

TEST_F(LinkTest, QueuedPacketReturnsAtOnceWhateverTheLimit) {
  link.SetRXTimeOut(50);
  Deliver({Pkt({'a'})});
  link.SetRXTimeOut(60000);
  char ch;
  auto t0 = Clock::now();
  EXPECT_TRUE(link.RxChar(ch));
  EXPECT_LT(MsSince(t0), 50);
  EXPECT_EQ(ch, 'a');
}

TEST_F(LinkTest, ReceiveWaitsOnlyItsOwnLimit) {
  link.SetRXTimeOut(50);
  char ch;
  auto t0 = Clock::now();
  EXPECT_FALSE(link.RxChar(ch));
  long ms = MsSince(t0);
  EXPECT_GE(ms, 45);
  EXPECT_LT(ms, 1000);
}

TEST_F(LinkTest, ReplyArrivingDuringTheWaitWakesTheReader) {
  peer->On({0x02, 'G'}).Send({Pkt({0x04}).After(200)});
  link.TxCmd(TCmdTyp::TESKcmd, 'G');
  char ch;
  auto t0 = Clock::now();
  EXPECT_TRUE(link.RxChar(ch));
  long ms = MsSince(t0);
  EXPECT_EQ(ch, 4);
  EXPECT_GE(ms, 150);
  EXPECT_LT(ms, 1000);
}

TEST_F(LinkTest, TransfersOfTwoBytesOrLessAreDropped) {
  Deliver({Pkt::Raw({0x01}), Pkt::Raw({0x01, 0x00}), Pkt::Raw({0xEE, 0xEE, 'z'})});
  link.SetRXTimeOut(100);
  char ch;
  ASSERT_TRUE(link.RxChar(ch));
  EXPECT_EQ(ch, 'z') << "the header is skipped without being checked";
  EXPECT_FALSE(link.RxChar(ch));
}

TEST_F(LinkTest, ReceivePrimitivesTakeWhatFitsTheirCapacity) {
  link.SetRXTimeOut(300);
  uint16_t w = 0xABCD;
  Deliver({Pkt({0x11})});
  EXPECT_FALSE(link.RxWord(w)) << "a 1-byte payload is no word";
  EXPECT_EQ(w, 0xAB11) << "only the low byte is written";
  Deliver({Pkt({0x34, 0x12, 0x99})});
  EXPECT_TRUE(link.RxWord(w));
  EXPECT_EQ(w, 0x1234);

  uint8_t block[64];
  Deliver({Pkt(Bytes(41, 7))});
  uint16_t count = 41;
  EXPECT_TRUE(link.RxBlock(block, count));
  EXPECT_EQ(count, 41);
  Deliver({Pkt(Bytes(30, 7))});
  count = 41;
  EXPECT_TRUE(link.RxBlock(block, count));
  EXPECT_EQ(count, 30);
}

TEST_F(LinkTest, ReceivedStringKeepsItsFirst65BytesAndAnHonestLength) {
  link.SetRXTimeOut(300);
  Bytes payload(100, 'q');
  payload[0] = 99;  // claims more characters than a string holds
  Deliver({Pkt(payload)});
  TString64 st;
  ASSERT_TRUE(link.RxString(st));
  EXPECT_EQ(st.len, 64);
  EXPECT_EQ(st.View(), std::string(64, 'q'));

  Deliver({Pkt({3, 'a', 'b'})});  // length 3, only 2 characters came
  ASSERT_TRUE(link.RxString(st));
  EXPECT_EQ(st.len, 3);
  EXPECT_EQ(std::string(st.chars, 3), std::string("ab\0", 3));
}

TEST_F(LinkTest, FlushDropsEverythingThatCameBefore) {
  Deliver({Pkt({'1'}), Pkt({'2'}), Pkt({'3'})});
  link.FlushBuffer();
  peer->On({0x02, 'G'}).Send({Pkt({'r'}).After(50)});
  link.TxCmd(TCmdTyp::TESKcmd, 'G');
  char ch;
  EXPECT_TRUE(link.RxChar(ch));
  EXPECT_EQ(ch, 'r') << "the reply is waited for, not read as missing";
}

TEST(LinkSerial, EightCapitalHexDigitsOrNothing) {
  struct Case {
    uint32_t sn;
    const char* text;
  };
  for (Case c : {Case{0, ""}, Case{0x1A2B, "00001A2B"}, Case{305419896, "12345678"}, Case{0x8000ABCD, "8000ABCD"},
                 Case{11259375, "00ABCDEF"}}) {
    Link l;
    l.FDeviceRec.SerNum = c.sn;
    EXPECT_EQ(l.GetSerNum(), c.text);
  }
}

TEST_F(LinkTest, ConnectSetsUpTheDeviceAndBothPipes) {
  using namespace nurva::usbio;
  auto codes = peer->RequestCodes();
  // Device: driver info, configuration. IN pipe: driver info, bind. OUT pipe: the same.
  const std::vector<uint32_t> expected = {IOCTL_USBIO_GET_DRIVER_INFO, IOCTL_USBIO_SET_CONFIGURATION,
                                          IOCTL_USBIO_GET_DRIVER_INFO, IOCTL_USBIO_BIND_PIPE,
                                          IOCTL_USBIO_GET_DRIVER_INFO, IOCTL_USBIO_BIND_PIPE};
  EXPECT_EQ(codes, expected);
  std::vector<Bytes> binds;
  for (const auto& e : peer->Log()) {
    if (e.code == IOCTL_USBIO_SET_CONFIGURATION) {
      ASSERT_EQ(e.bytes.size(), 260u);
      USBIO_SET_CONFIGURATION conf;
      std::memcpy(&conf, e.bytes.data(), sizeof conf);
      EXPECT_EQ(conf.ConfigurationIndex, 0);
      EXPECT_EQ(conf.NbOfInterfaces, 1);
      EXPECT_EQ(conf.InterfaceList[0].MaximumTransferSize, 512u);
    }
    if (e.code == IOCTL_USBIO_BIND_PIPE) binds.push_back(e.bytes);
  }
  EXPECT_EQ(binds, (std::vector<Bytes>{{0x81}, {0x01}}));
  EXPECT_EQ(link.Fres, TPrgResult::progFound);
  EXPECT_EQ(link.OpMode, TOpMode::opIdle);
}

TEST_F(LinkTest, ConnectTwiceLeavesTheLinkDisconnected) {
  link.busy = true;
  EXPECT_FALSE(link.Connect(0));
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.Fres, TPrgResult::noProg);
  EXPECT_FALSE(link.busy);
  EXPECT_TRUE(link.Connect(0)) << "and it can connect again";
}

TEST(LinkConnect, MissingDeviceFailsWithNoSuchDevice) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  Link link;
  EXPECT_FALSE(link.Connect(1));
  EXPECT_EQ(link.Fres, TPrgResult::noProg);
  EXPECT_EQ(link.Status(), usbio::USBIO_ERR_NO_SUCH_DEVICE);
  EXPECT_FALSE(link.Connected());
}

TEST(LinkConnect, FailedBindEndsInDisconnect) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.FailRequest(usbio::IOCTL_USBIO_BIND_PIPE, 0xC000000D);
  Link link;
  EXPECT_FALSE(link.Connect(0));
  EXPECT_EQ(link.Status(), 0xC000000Du);
  EXPECT_FALSE(link.Connected());
  EXPECT_EQ(link.Fres, TPrgResult::noProg);
}

TEST(LinkConnect, FailedConfigurationDoesNotStopTheConnection) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.FailRequest(usbio::IOCTL_USBIO_SET_CONFIGURATION, 0xC0000001);
  Link link;
  EXPECT_TRUE(link.Connect(0));
}

TEST(LinkConnect, DeviceThatNeverAnswersARequestDoesNotHangTheConnect) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.SilenceRequest(usbio::IOCTL_USBIO_GET_DRIVER_INFO);
  Link link;
  auto t0 = Clock::now();
  EXPECT_FALSE(link.Connect(0));
  EXPECT_LT(MsSince(t0), 4000);
  EXPECT_NE(link.Status(), 0u);
}

TEST_F(LinkTest, VendorRequestCarriesItsConstantRecord) {
  ASSERT_TRUE(link.SendVendorRequest());
  Bytes rec;
  for (const auto& e : peer->Log())
    if (e.code == usbio::IOCTL_USBIO_CLASS_OR_VENDOR_OUT_REQUEST) rec = e.bytes;
  const Bytes expected = {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(rec, expected);
}

TEST_F(LinkTest, UnansweredVendorRequestGivesUpAfterItsLimit) {
  peer->SilenceRequest(usbio::IOCTL_USBIO_CLASS_OR_VENDOR_OUT_REQUEST);
  auto t0 = Clock::now();
  EXPECT_FALSE(link.SendVendorRequest());
  long ms = MsSince(t0);
  EXPECT_GE(ms, 1950);
  EXPECT_LT(ms, 3500);
}

TEST_F(LinkTest, WriteThatNeverCompletesIsCancelledAfterItsLimit) {
  peer->Device().StallOut(true);
  uint8_t payload[500];
  std::memset(payload, 0x5A, sizeof payload);
  // Fill the connection until a write stays pending.
  long ms = 0;
  bool failed = false;
  for (int i = 0; i < 10000 && !failed; ++i) {
    auto t0 = Clock::now();
    failed = !link.TxPacket(payload, sizeof payload);
    ms = MsSince(t0);
  }
  ASSERT_TRUE(failed);
  EXPECT_GE(ms, 1950);
  EXPECT_LT(ms, 3500);
  peer->Device().StallOut(false);
  EXPECT_TRUE(link.TxChar('x')) << "the link is still usable";
}

TEST(LinkThread, TerminateOfAnIdleLinkEndsWithinItsPollStep) {
  Link link;
  std::this_thread::sleep_for(50ms);
  auto t0 = Clock::now();
  link.Terminate();
  link.WaitFor();
  EXPECT_LT(MsSince(t0), 200);
}

TEST_F(LinkTest, TerminateOfAConnectedLinkEndsAtOnce) {
  std::this_thread::sleep_for(50ms);  // the loop sits in a pending read
  auto t0 = Clock::now();
  link.Terminate();
  link.WaitFor();
  EXPECT_LT(MsSince(t0), 100);
}

TEST(LinkThread, FreeingAConnectedLinkWithoutTerminateIsSafe) {
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  for (int i = 0; i < 20; ++i) {
    auto link = std::make_unique<Link>();
    ASSERT_TRUE(link->Connect(0));
    peer.Push({Pkt({'a'}), Pkt({'b'})});
    link.reset();
  }
}

TEST_F(LinkTest, UnplugUnderARunningReadLeavesTheLinkUsable) {
  std::this_thread::sleep_for(50ms);
  peer->Unplug();
  link.SetRXTimeOut(200);
  char ch;
  EXPECT_FALSE(link.RxChar(ch));
  EXPECT_EQ(ch, kNAK);
  EXPECT_FALSE(link.TxChar('x')) << "writes to the gone device fail";
  link.Disconnect();
  EXPECT_FALSE(link.Connect(0)) << "the device is no longer listed";
  EXPECT_EQ(link.Status(), usbio::USBIO_ERR_NO_SUCH_DEVICE);
}

TEST_F(LinkTest, ManyPacketsArriveInOrder) {
  std::vector<Pkt> pkts;
  for (int i = 0; i < 200; ++i) pkts.push_back(Pkt({static_cast<uint8_t>(i)}));
  peer->Push(pkts);
  for (int i = 0; i < 200; ++i) {
    char ch;
    ASSERT_TRUE(link.RxChar(ch)) << i;
    ASSERT_EQ(static_cast<uint8_t>(ch), i);
  }
}

TEST_F(LinkTest, LargestInTransferIsOnePacket) {
  Bytes payload(510);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  peer->Push({Pkt(payload)});
  uint8_t buf[600];
  uint16_t count = sizeof buf;
  ASSERT_TRUE(link.RxBlock(buf, count));
  EXPECT_EQ(count, 510);
  EXPECT_EQ(Bytes(buf, buf + count), payload);
  // A transfer beyond 512 bytes is cut to what one read takes.
  Bytes tooLong(600, 1);
  peer->Push({Pkt::Raw(tooLong)});
  count = sizeof buf;
  ASSERT_TRUE(link.RxBlock(buf, count));
  EXPECT_EQ(count, 510);
}
