// The project parameters report, reply by reply.
#include <algorithm>
#include <atomic>
#include <clocale>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <thread>

#include "common/LocaleFacts.h"
#include "tests/api/api_fixture.h"
#include "tests/support/KnownProjRecord.h"

using namespace nurva;
using namespace nurva::test;

namespace {

constexpr uint8_t kAckB = 0x06, kNakB = 0x15;

// The name as TxString's second packet carries it.
Bytes NamePacket(const std::string& name) {
  Bytes b(name.size() + 1);
  b[0] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), b.begin() + 1);
  return b;
}

// What the link sends for a report of `name` (already trimmed).
std::vector<Bytes> ReportPackets(const std::string& name) {
  return {{0x02, 'a'}, {0x02, 'A'}, {static_cast<uint8_t>(name.size() + 1), 0x00}, NamePacket(name)};
}

std::vector<Pkt> Replies(const std::vector<Bytes>& payloads) {
  std::vector<Pkt> r;
  for (const auto& p : payloads) r.push_back(Pkt(p));
  return r;
}

// The protection reply AES+PWD with quantity 500, and a whole known record.
const std::vector<Bytes> kProtection = {{0x03}, {0xF4, 0x01}};
std::vector<Bytes> RecordReplies(size_t announced, size_t sent) {
  return {{kAckB}, {kAckB}, {kAckB}, {static_cast<uint8_t>(announced)}, RecordBytes(KnownRecord(), sent)};
}

class ProjParamsTest : public ApiTest {
 protected:
  void SetUp() override {
    Discover(1);
    ReplaceUserLocale(&cFacts);
  }
  void TearDown() override {
    ReplaceUserLocale(nullptr);
    ApiTest::TearDown();
  }
  ScriptedPeer& Peer() { return *peers[0]; }
  void Rescript() {
    peers[0].reset();
    peers[0] = std::make_unique<ScriptedPeer>(bus, "dev00");
    peers[0]->Identify(ProgrammerRec(kModelProg, 0x1000));
    Link(0).Disconnect();
    ASSERT_TRUE(Link(0).Connect(0));
    Peer().ClearLog();
  }
  // The peer answers 'a' with `protection` and the name packet of `name` with `file`.
  void Script(const std::vector<Bytes>& protection, const std::string& name, const std::vector<Bytes>& file) {
    Peer().On({0x02, 'a'}).Send(Replies(protection));
    Peer().On(NamePacket(name)).Send(Replies(file));
  }
  static Answer Report(const char* name, int32_t preset = 99) {
    Answer a{preset, {}};
    std::string text(4096, '#');
    GetProjParams(0, name, &a.res, text.data());
    a.text = text.c_str();
    return a;
  }

  CLocaleFacts cFacts;
};

}  // namespace

TEST_F(ProjParamsTest, WholeReportOfAKnownRecord) {
  Link(0).Msg = "idle";
  Link(0).OpMode = TOpMode::opVerify;
  Script(kProtection, "DEMO.PACK", RecordReplies(195, 195));
  Answer a = Report("  DEMO.PACK\t\r\n");
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text, KnownReportC());
  EXPECT_EQ(Peer().OutPayloads(), ReportPackets("DEMO.PACK"));
  EXPECT_EQ(Link(0).AEStyp.bits, 3);
  EXPECT_EQ(Link(0).aQuantity, 500);
  EXPECT_EQ(Link(0).RxTimeOut(), 2000u);
  EXPECT_FALSE(Link(0).busy.load());
  // Status fields stay as they were.
  EXPECT_EQ(Link(0).Fres, TPrgResult::progFound);
  EXPECT_EQ(Link(0).Msg, "idle");
  EXPECT_EQ(Link(0).OpMode, TOpMode::opVerify);

  Rescript();
  DutchLikeFacts dutch;
  ReplaceUserLocale(&dutch);
  Script(kProtection, "DEMO.PACK", RecordReplies(195, 195));
  a = Report("DEMO.PACK");
  ReplaceUserLocale(&cFacts);
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text, KnownReportDutchLike());
}

TEST_F(ProjParamsTest, ProtectionReply) {
  struct Case {
    std::vector<Bytes> reply;
    uint8_t bits;
    int32_t quantity;
    const char* line11;
  };
  const Case cases[] = {
      {{{0x07}, {0x10, 0x27}}, 7, 10000, "AES+PWD+QNT"},
      {{{0x03}, {0x00, 0x00}}, 3, 0, "AES+PWD"},
      {{{0x05}, {0xFF, 0xFF}}, 5, 65535, "AES"},
      {{{0x02}, {0x01, 0x00}}, 2, 1, "AES"},
      {{{0x00}, {0x05, 0x00}}, 0, 5, "none"},
      {{{'?'}, {0x05, 0x00}}, 0, -1, "none"},
      {{{kNakB}, {0x05, 0x00}}, 0, -1, "none"},
  };
  for (const Case& c : cases) {
    Rescript();
    Link(0).AEStyp = TAES{0xFF};
    Link(0).aQuantity = 12345;
    Script(c.reply, "P.PACK", RecordReplies(195, 195));
    Answer a = Report("P.PACK");
    EXPECT_EQ(a.res, 1) << c.line11;
    EXPECT_EQ(Link(0).AEStyp.bits, c.bits) << c.line11;
    EXPECT_EQ(Link(0).aQuantity, c.quantity) << c.line11;
    const size_t at = a.text.find("PDI\r\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(a.text.substr(at + 5, a.text.find("\r\n", at + 5) - at - 5), c.line11);
  }
}

TEST_F(ProjParamsTest, FileReplies) {
  struct Case {
    const char* what;
    std::vector<Bytes> file;
    int32_t res;
    std::string text;
  };
  TProjParamRec longRec = KnownRecord();
  const Case cases[] = {
      {"file missing", {{kNakB}}, 36, "File not found"},
      {"file check failed", {{kAckB}, {kNakB}}, 33, "File check error"},
      {"record refused", {{kAckB}, {kAckB}, {kNakB}}, 9, "communication error1"},
      {"record to the end of Power", RecordReplies(191, 191), 1, KnownReportC()},
      {"one byte short", RecordReplies(191, 190), 9, "communication error2"},
      {"packet longer than announced", RecordReplies(195, 195 + 20), 1, KnownReportC()},
      {"announced past the buffer", RecordReplies(196, 196), 9, "communication error2"},
      {"announced 255", RecordReplies(255, 255), 9, "communication error2"},
      {"any other character passes", {{'x'}, {'y'}, {0}, {195}, RecordBytes(longRec)}, 1, KnownReportC()},
  };
  for (const Case& c : cases) {
    Rescript();
    Script(kProtection, "F.PACK", c.file);
    Answer a = Report("F.PACK");
    EXPECT_EQ(a.res, c.res) << c.what;
    EXPECT_EQ(a.text, c.text) << c.what;
    EXPECT_EQ(Peer().OutPayloads(), ReportPackets("F.PACK")) << c.what;
    EXPECT_EQ(Link(0).RxTimeOut(), 2000u) << c.what;
    EXPECT_FALSE(Link(0).busy.load());
  }
}

TEST_F(ProjParamsTest, ShortRecordShowsZerosBeyondWhatArrived) {
  // A full report first, so that a buffer left as it was would hold its values.
  Script(kProtection, "S.PACK", RecordReplies(195, 195));
  ASSERT_EQ(Report("S.PACK").res, 1);
  Rescript();
  // 60 bytes: everything up to HasSizeB; OptionFlag, the sizes, Date100, Interface and
  // Power did not come.
  Script(kProtection, "S.PACK", RecordReplies(60, 60));
  Answer a = Report("S.PACK");
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text,
            "blink v3\r\n2024.Mar.05 14:07:32\r\n1899.Dec.30\r\nrev 3 board\r\n7.3728 MHz\r\n0 bytes\r\n0 bytes\r\n"
            "none\r\nno\r\nSPI\r\nAES+PWD\r\nTarget itself\r\n");
}

TEST_F(ProjParamsTest, NameAsSent) {
  struct Case {
    std::string given, sent;
  };
  const Case cases[] = {
      {"  DEMO.PACK  ", "DEMO.PACK"},
      {"\x01\tA B.PACK\r\n", "A B.PACK"},
      {"   ", ""},
      {"", ""},
      {std::string(70, 'N'), std::string(64, 'N')},
      {" " + std::string(64, 'x') + "yz ", std::string(64, 'x')},
  };
  for (const Case& c : cases) {
    Rescript();
    Peer().On({0x02, 'a'}).Send(Replies(kProtection));
    Peer().On({0x02, 'A'}).Send({Pkt({kNakB})});
    Answer a = Report(c.given.c_str());
    EXPECT_EQ(a.res, 36);
    Peer().WaitForOut(4, 1000);  // the refusal may overtake the name on its way in
    EXPECT_EQ(Peer().OutPayloads(), ReportPackets(c.sent)) << c.given;
  }
}

TEST_F(ProjParamsTest, RefusedBeforeAnythingIsSent) {
  Answer a = Report(nullptr, 99);
  EXPECT_EQ(a.res, 29);
  EXPECT_EQ(a.text, "parameter error");
  EXPECT_FALSE(Link(0).busy.load());
  // A missing text buffer or res pointer is skipped.
  GetProjParams(0, nullptr, nullptr, nullptr);
  a = Answer{99, {}};
  char text[64];
  GetProjParams(1, "X", &a.res, text);
  EXPECT_EQ(a.res, 3);
  EXPECT_STREQ(text, "illegal port number");
  Link(0).busy = true;
  GetProjParams(0, "X", &a.res, text);
  EXPECT_EQ(a.res, 5);
  EXPECT_STREQ(text, "Busy");
  Link(0).busy = false;
  // Behind the export layer a missing link answers nothing.
  int32_t code = 99;
  EXPECT_EQ(api::RdrList->GetProjParams(7, "X", code), "");
  EXPECT_EQ(code, 99);
  EXPECT_EQ(Peer().OutCount(), 0);
}

TEST_F(ProjParamsTest, SilencesAndTheLongerReceiveLimit) {
  using ms = std::chrono::milliseconds;
  // No protection reply: both of its parts wait out the standing 2000 ms, then the record
  // still makes a report, with no protection.
  Peer().On(NamePacket("Q.PACK")).Send(Replies(RecordReplies(195, 195)));
  auto t0 = Clock::now();
  Answer a = Report("Q.PACK");
  auto took = std::chrono::duration_cast<ms>(Clock::now() - t0).count();
  EXPECT_EQ(a.res, 1);
  EXPECT_NE(a.text.find("\r\nnone\r\n"), std::string::npos) << a.text;
  EXPECT_EQ(Link(0).aQuantity, -1);
  EXPECT_GE(took, 2 * 2000 - 100);
  EXPECT_LT(took, 2 * 2000 + 1500);

  // The file's replies wait 4000 ms each; the standing limit is back afterwards.
  Rescript();
  Script(kProtection, "Q.PACK", {{kAckB}});
  t0 = Clock::now();
  a = Report("Q.PACK");
  took = std::chrono::duration_cast<ms>(Clock::now() - t0).count();
  EXPECT_EQ(a.res, 33);
  EXPECT_EQ(a.text, "File check error");
  EXPECT_GE(took, 4000 - 100);
  EXPECT_LT(took, 4000 + 1500);
  EXPECT_EQ(Link(0).RxTimeOut(), 2000u);
}

TEST_F(ProjParamsTest, HostThreadFormattingDatesIsUnaffected) {
#ifndef _WIN32
  // The platform's facts, read from an environment that names another locale than the
  // process runs in: looking them up must not switch the process's locale.
  ::setenv("LC_TIME", "C.UTF-8", 1);
  ::setenv("LC_NUMERIC", "C.UTF-8", 1);
#endif
  ReplaceUserLocale(nullptr);
  const std::string processLocale = std::setlocale(LC_ALL, nullptr);
  const std::string globalName = std::locale().name();
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 5;
  tm.tm_hour = 14;
  tm.tm_min = 7;
  tm.tm_sec = 32;
  auto format = [&] {
    char c[128];
    std::strftime(c, sizeof c, "%Y.%b.%d %X %x %p", &tm);
    std::ostringstream os;
    os << std::put_time(&tm, "%c") << ' ' << 3.25;
    return std::string(c) + " | " + os.str();
  };
  const std::string expected = format();
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0}, changed{0};
  std::thread host([&] {
    while (!done.load()) {
      if (format() != expected || std::setlocale(LC_ALL, nullptr) != processLocale ||
          std::locale().name() != globalName)
        ++changed;
      ++rounds;
    }
  });
  int reports = 0;
  for (int i = 0; i < 12; ++i) {
    Rescript();
    Script(kProtection, "T.PACK", RecordReplies(195, 195));
    if (Report("T.PACK").res == 1) ++reports;
  }
  done = true;
  host.join();
#ifndef _WIN32
  ::unsetenv("LC_TIME");
  ::unsetenv("LC_NUMERIC");
#endif
  EXPECT_EQ(reports, 12);
  EXPECT_GT(rounds.load(), 12);
  EXPECT_EQ(changed.load(), 0);
}
