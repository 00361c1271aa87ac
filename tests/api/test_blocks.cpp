// Block transfers and read back: the packets each export sends, every reply path of the
// commands, the argument checks, and the read-back block as it lands in the host's memory.
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>

#include "tests/api/api_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class BlocksTest : public ApiTest {
 protected:
  void SetUp() override { Discover(1); }
  ScriptedPeer& Peer() { return *peers[0]; }
  // A fresh peer that answers the 'u' after 'Q' with `replies`, all queued at once: the
  // commands read their replies in order, so they may come ahead of their questions.
  void Rescript(const std::vector<Bytes>& replies) {
    peers[0].reset();  // its socket goes before the new one takes the name
    peers[0] = std::make_unique<ScriptedPeer>(bus, "dev00");
    peers[0]->Identify(ProgrammerRec(kModelProg, 0x1000));
    Link(0).Disconnect();
    ASSERT_TRUE(Link(0).Connect(0));
    Link(0).SetRXTimeOut(kDefaultRxTimeOutMs);
    std::vector<Pkt> pkts;
    for (const auto& r : replies) pkts.push_back(Pkt(r));
    Peer().On({'u'}).Send(pkts);
    Peer().ClearLog();
  }
  // The host's packets once `expected` have arrived (the replies were queued ahead, so
  // the call may return before the peer has read all it sent), and a little after that
  // so that a packet too many shows.
  std::vector<Bytes> Sent(size_t expected) {
    Peer().WaitForOut(static_cast<int>(expected), 3000);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return Peer().OutPayloads();
  }
};

// Calls a block export on channel 0 with `args` between the channel and res.
template <class Fn, class... A>
Answer Xfer(Fn fn, A... args) {
  Answer a{99, {}};
  char text[NURVA_TEXT_BUFFER_SIZE] = "#";
  fn(0, args..., &a.res, text);
  a.text = text;
  return a;
}

Bytes Long(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}
Bytes Word(uint32_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
uint32_t Sum(const uint8_t* b, size_t n) { return std::accumulate(b, b + n, 0u); }

// A host block of 300 bytes, so that a transfer of 256 shows it stops there.
std::vector<uint8_t> Pattern(size_t n = 300) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 0x81);
  return b;
}

// The payloads of an exchange: a head, `n` data packets of `data`, then a tail.
std::vector<Bytes> Packets(std::vector<Bytes> head, const uint8_t* data, size_t n, std::vector<Bytes> tail) {
  for (size_t i = 0; i < n; ++i) head.push_back({data[i]});
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const Bytes kOpen = {0x02, 'Q'};
const Bytes kU = {'u'};
constexpr uint8_t A = 0x06, N = 0x15, CR = 0x0D;

}  // namespace

// ---------------------------------------------------------------- packets on the wire

TEST_F(BlocksTest, EachExportSendsItsExactPackets) {
  const std::vector<uint8_t> b = Pattern();
  const uint8_t* p = b.data();
  const std::vector<Bytes> progOk = {{A}, {A}, {0}, {CR}, {0}};
  struct Case {
    const char* name;
    std::function<Answer()> call;
    std::vector<Bytes> replies;
    std::vector<Bytes> sent;
  };
  const Case cases[] = {
      {"DownProgBlockF", [&] { return Xfer(DownProgBlockF, p, -2); }, progOk,
       Packets({kOpen, kU, {'D'}, {'f'}, {0xFE, 0xFF, 0xFF, 0xFF}}, p, 256, {Word(Sum(p, 256))})},
      {"DownProgBlockE", [&] { return Xfer(DownProgBlockE, p, 0x1234, 1); }, progOk,
       Packets({kOpen, kU, {'D'}, {'e'}, {0x34, 0x12, 0, 0}, {1, 0}}, p, 1, {{p[0], 0}})},
      {"DownProgBlockE 256", [&] { return Xfer(DownProgBlockE, p, 0, 256); }, progOk,
       Packets({kOpen, kU, {'D'}, {'e'}, Long(0), {0, 1}}, p, 256, {Word(Sum(p, 256))})},
      {"DownProgBlockU", [&] { return Xfer(DownProgBlockU, p, 0x40); }, progOk,
       Packets({kOpen, kU, {'D'}, {'u'}, Long(0x40)}, p, 256, {Word(Sum(p, 256))})},
      {"DownOverBlockF", [&] { return Xfer(DownOverBlockF, p, 0x1F0, 16); }, {{A}, {A}, {A}, {A}},
       Packets({kOpen, kU, {'P'}, {'F'}, Long(0x1F0), {16}}, p, 16, {Word(Sum(p, 16))})},
      {"DownOverBlockE", [&] { return Xfer(DownOverBlockE, p, 3, 2); }, {{A}, {A}, {A}, {A}},
       Packets({kOpen, kU, {'P'}, {'E'}, Long(3), {2}}, p, 2, {Word(Sum(p, 2))})},
      {"DownOverBlockU", [&] { return Xfer(DownOverBlockU, p, -10, 20); }, {{A}, {A}, {A}, {A}},
       Packets({kOpen, kU, {'P'}, {'U'}, {0xF6, 0xFF, 0xFF, 0xFF}, {20}}, p, 20, {Word(Sum(p, 20))})},
      {"DownFileBlockF 0", [&] { return Xfer(DownFileBlockF, p, 0x100, 0); }, {{A}, {A}, {CR}, {CR}},
       {kOpen, kU, {'f'}, Long(0x100), {0, 0}, {0, 0}}},
      {"DownFileBlockE", [&] { return Xfer(DownFileBlockE, p, 7, 3); }, {{A}, {A}, {CR}, {CR}},
       Packets({kOpen, kU, {'e'}, Long(7), {3, 0}}, p, 3, {Word(Sum(p, 3))})},
      {"DownFileBlockU 300", [&] { return Xfer(DownFileBlockU, p, 0, 300); }, {{A}, {A}, {CR}, {CR}},
       Packets({kOpen, kU, {'u'}, Long(0), {0x2C, 0x01}}, p, 300, {Word(Sum(p, 300))})},
      {"UpFileBlockF", [&] {
         std::vector<uint8_t> in(4);
         return Xfer(UpFileBlockF, in.data(), 0x10000, 2);
       },
       {{A}, {A}, {CR}, {1}, {2}, {3, 0}}, {kOpen, kU, {'r'}, {'f'}, Long(0x10000), {2, 0}}},
      {"UpFileBlockE", [&] {
         std::vector<uint8_t> in(4);
         return Xfer(UpFileBlockE, in.data(), 5, 1);
       },
       {{A}, {A}, {CR}, {9}, {9, 0}}, {kOpen, kU, {'r'}, {'e'}, Long(5), {1, 0}}},
      {"UpFileBlockU", [&] {
         std::vector<uint8_t> in(4);
         return Xfer(UpFileBlockU, in.data(), -1, 0);
       },
       {{A}, {A}, {CR}, {0, 0}}, {kOpen, kU, {'r'}, {'u'}, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0}}},
  };
  for (const auto& c : cases) {
    Rescript(c.replies);
    Answer a = c.call();
    EXPECT_EQ(a.res, 1) << c.name << ": " << a.text;
    EXPECT_EQ(a.text, "ok") << c.name;
    EXPECT_EQ(Sent(c.sent.size()), c.sent) << c.name;
  }
}

TEST_F(BlocksTest, ReadBackSendsItsExactPackets) {
  std::vector<uint8_t> into(256);
  struct Case {
    const char* name;
    std::function<Answer()> call;
    std::vector<Bytes> sent;
    int32_t res;  // the block of 256 ones sums to 256 only when all of it is taken
  };
  const Case cases[] = {
      {"ReadBackChipF", [&] { return Xfer(ReadBackChipF, into.data(), 0x100); },
       {kOpen, kU, {'U'}, {'f'}, Long(0x100)}, 1},
      {"ReadBackChipU", [&] { return Xfer(ReadBackChipU, into.data(), -256); },
       {kOpen, kU, {'U'}, {'u'}, {0x00, 0xFF, 0xFF, 0xFF}}, 1},
      {"ReadBackChipE 256", [&] { return Xfer(ReadBackChipE, into.data(), 0x20, 256); },
       {kOpen, kU, {'U'}, {'e'}, Long(0x20), {0x00, 0x01}}, 1},
      {"ReadBackChipE 1", [&] { return Xfer(ReadBackChipE, into.data(), 0, 1); },
       {kOpen, kU, {'U'}, {'e'}, Long(0), {0x01, 0x00}}, 30},
  };
  for (const auto& c : cases) {
    Rescript({{A}, {A}, {0}, Bytes(256, 0x01), Word(256)});
    Answer a = c.call();
    EXPECT_EQ(Sent(c.sent.size()), c.sent) << c.name;
    EXPECT_EQ(a.res, c.res) << c.name;
  }
}

// ---------------------------------------------------------------- reply paths

TEST_F(BlocksTest, ProgramBlockReplyPaths) {
  const std::vector<uint8_t> b = Pattern();
  using Prog = std::function<Answer()>;
  const Prog progF = [&] { return Xfer(DownProgBlockF, b.data(), 0); };
  const Prog progE = [&] { return Xfer(DownProgBlockE, b.data(), 0, 8); };
  const Prog progU = [&] { return Xfer(DownProgBlockU, b.data(), 0); };
  struct Case {
    const Prog* call;
    std::vector<Bytes> replies;
    int32_t res;
    const char* text;
    size_t sent;  // packets the host sent
  };
  const size_t full = 5 + 256 + 1, fullE = 6 + 8 + 1;
  const Case cases[] = {
      {&progF, {{N}}, 37, "File error", 2},
      {&progF, {{A}, {A}, {1}}, 10, "device power down", 3},
      {&progF, {{A}, {A}, {3}}, 12, "wrong device ID", 3},
      {&progF, {{A}, {A}, {4}}, 19, "device protected", 3},
      {&progF, {{A}, {A}, {7}}, 30, "communication error1", 3},
      {&progE, {{A}, {A}, {8}}, 30, "communication error1", 3},
      {&progU, {{A}, {A}, {7}}, 30, "communication error1", 3},
      {&progF, {{A}, {A}, {A}, {N}}, 30, "communication error3", full},
      {&progE, {{A}, {A}, {N}, {A}}, 31, "communication error3", fullE},
      {&progU, {{A}, {9}, {2}, {'x'}}, 32, "communication error3", full},
      {&progF, {{A}, {A}, {0}, {CR}, {1}}, 11, "low voltage", full},
      {&progE, {{A}, {A}, {0}, {CR}, {3}}, 12, "wrong device", fullE},
      {&progU, {{A}, {A}, {0}, {CR}, {4}}, 19, "device protected", full},
      {&progF, {{A}, {A}, {0}, {CR}, {6}}, 27, "verify error", full},
      {&progE, {{A}, {A}, {0}, {CR}, {0}}, 1, "ok", fullE},
      {&progU, {{A}, {A}, {N}, {CR}, {N}}, 1, "ok", full},
  };
  for (const auto& c : cases) {
    Rescript(c.replies);
    Answer a = (*c.call)();
    EXPECT_EQ(a.res, c.res) << c.text;
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Sent(c.sent).size(), c.sent) << c.text;
    EXPECT_EQ(Link(0).Fres, TPrgResult::progFound) << "unchanged";
  }
  // CR and then nothing: the missing last reply reads as "ok".
  Rescript({{A}, {A}, {0}, {CR}});
  Link(0).SetRXTimeOut(200);  // block transfers keep the link's limit; short here
  Answer a = progF();
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text, "ok");
}

TEST_F(BlocksTest, OverFileAndUpFileReplyPaths) {
  const std::vector<uint8_t> b = Pattern();
  std::vector<uint8_t> in(8, 0xAA);
  using Call = std::function<Answer()>;
  const Call overE = [&] { return Xfer(DownOverBlockE, b.data(), 0, 4); };
  const Call fileF = [&] { return Xfer(DownFileBlockF, b.data(), 0, 4); };
  const Call fileE = [&] { return Xfer(DownFileBlockE, b.data(), 0, 4); };
  const Call fileU = [&] { return Xfer(DownFileBlockU, b.data(), 0, 4); };
  const Call upU = [&] { return Xfer(UpFileBlockU, in.data(), 0, 4); };
  const Call upE = [&] { return Xfer(UpFileBlockE, in.data(), 0, 4); };
  struct Case {
    const char* name;
    const Call* call;
    std::vector<Bytes> replies;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {
      {"over opening", &overE, {{N}}, 37, "File error"},
      {"over letter", &overE, {{A}, {N}}, 9, "communication error"},
      {"over header", &overE, {{A}, {A}, {CR}}, 9, "communication error"},
      {"over data", &overE, {{A}, {A}, {A}, {N}}, 9, "communication error"},
      {"over ok", &overE, {{A}, {A}, {A}, {A}}, 1, "ok"},
      {"file opening", &fileF, {{N}}, 37, "File error"},
      {"file letter F", &fileF, {{A}, {N}}, 30, "file is encrypted"},
      {"file letter E", &fileE, {{A}, {N}}, 31, "file is encrypted"},
      {"file letter U", &fileU, {{A}, {CR}}, 32, "file is encrypted"},
      {"file header", &fileE, {{A}, {A}, {A}}, 31, "communication error"},
      {"file data", &fileU, {{A}, {A}, {CR}, {N}}, 32, "checksum error"},
      {"file ok", &fileF, {{A}, {A}, {CR}, {CR}}, 1, "ok"},
      {"up opening", &upU, {{N}}, 37, "File error"},
      {"up 'r'", &upU, {{A}, {N}}, 37, "File error"},
      {"up header", &upE, {{A}, {A}, {A}}, 31, "communication error"},
      {"up ok", &upU, {{A}, {A}, {CR}, {1}, {2}, {3}, {4}, Word(10)}, 1, "ok"},
      {"up wrong sum", &upE, {{A}, {A}, {CR}, {1}, {2}, {3}, {4}, Word(11)}, 31, "checksum error"},
      {"up half a sum", &upU, {{A}, {A}, {CR}, {1}, {2}, {3}, {4}, {10}}, 32, "checksum error"},
  };
  for (const auto& c : cases) {
    Rescript(c.replies);
    std::fill(in.begin(), in.end(), 0xAA);
    Answer a = (*c.call)();
    EXPECT_EQ(a.res, c.res) << c.name;
    EXPECT_EQ(a.text, c.text) << c.name;
    EXPECT_EQ(Link(0).Fres, TPrgResult::progFound) << c.name;
    if (c.replies.size() > 4) {
      EXPECT_EQ(in, (std::vector<uint8_t>{1, 2, 3, 4, 0xAA, 0xAA, 0xAA, 0xAA})) << c.name;
    }
  }
}

TEST_F(BlocksTest, UpFileBlockThatStopsReturnsWithinSecondsAndFillsWithNak) {
  Rescript({{A}, {A}, {CR}, {0x11}, {0x22}, {0x33}});
  std::vector<uint8_t> in(300, 0xAA);
  const auto t0 = Clock::now();
  Answer a = Xfer(UpFileBlockU, in.data(), 0, 256);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_EQ(a.res, 32);
  EXPECT_EQ(a.text, "checksum error");
  // One receive limit for the first missing byte, besides the fixed pauses: not one per byte.
  EXPECT_GE(ms, 2000);
  EXPECT_LT(ms, 5000);
  EXPECT_EQ(in[0], 0x11);
  EXPECT_EQ(in[2], 0x33);
  for (size_t i = 3; i < 256; ++i) ASSERT_EQ(in[i], 0x15) << i;
  EXPECT_EQ(in[256], 0xAA) << "past Count nothing is touched";
}

TEST_F(BlocksTest, ReadBackReplies) {
  std::vector<uint8_t> ff(256, 0xFF), pattern = Pattern(300);
  struct Case {
    const char* name;
    tMemType mem;
    std::vector<Bytes> replies;
    int32_t res;
    const char* text;
    TPrgResult fres;
    size_t stored;  // bytes of the reply's block that must stand in the host's buffer
    size_t sent;    // packets the host sent: nothing more after a failure
  };
  const TPrgResult before = TPrgResult::progFound;
  const Case cases[] = {
      {"opening NAK", tMemType::isFlash, {{N}}, 37, "File error", TPrgResult::FileErr, 0, 2},
      {"encrypted", tMemType::isFlash, {{A}, {N}}, 37, "file encrypted", TPrgResult::FileErr, 0, 3},
      {"power down", tMemType::isEEprom, {{A}, {A}, {1}}, 10, "device power down", before, 0, 3},
      {"wrong ID", tMemType::isFlash, {{A}, {A}, {3}}, 12, "wrong device ID", before, 0, 3},
      {"protected", tMemType::isUsrRow, {{A}, {A}, {4}}, 19, "device protected", before, 0, 3},
      {"target comm 7", tMemType::isFlash, {{A}, {A}, {7}}, 30, "communication error", before, 0, 3},
      {"target comm 8", tMemType::isEEprom, {{A}, {A}, {8}}, 30, "communication error", before, 0, 3},
      {"256 x FF", tMemType::isFlash, {{A}, {A}, {0}, ff, {0x00, 0xFF}}, 1, "resOK", TPrgResult::resOk, 256, 5},
      {"status NAK goes on", tMemType::isFlash, {{A}, {A}, {N}, ff, {0x00, 0xFF}}, 1, "resOK", TPrgResult::resOk, 256, 5},
      {"wrong checksum", tMemType::isFlash, {{A}, {A}, {0}, ff, {0x01, 0xFF}}, 30, "checksum error",
       TPrgResult::dwnLoadErrF, 256, 5},
      {"300 bytes", tMemType::isUsrRow, {{A}, {A}, {5}, pattern, Word(Sum(pattern.data(), 256))}, 1, "resOK",
       TPrgResult::resOk, 256, 5},
      {"100 bytes", tMemType::isFlash, {{A}, {A}, {0}, Bytes(pattern.begin(), pattern.begin() + 100),
       Word(Sum(pattern.data(), 100))}, 1, "resOK", TPrgResult::resOk, 100, 5},
      {"EEprom 16", tMemType::isEEprom, {{A}, {A}, {0}, pattern, Word(Sum(pattern.data(), 16))}, 1, "resOK",
       TPrgResult::resOk, 16, 6},
  };
  for (const auto& c : cases) {
    Rescript(c.replies);
    std::vector<uint8_t> host(300, 0x5A);
    Answer a = c.mem == tMemType::isFlash    ? Xfer(ReadBackChipF, host.data(), 0)
               : c.mem == tMemType::isUsrRow ? Xfer(ReadBackChipU, host.data(), 0)
                                             : Xfer(ReadBackChipE, host.data(), 0, 16);
    EXPECT_EQ(a.res, c.res) << c.name;
    EXPECT_EQ(a.text, c.text) << c.name;
    EXPECT_EQ(Link(0).Fres, c.fres) << c.name;
    if (c.stored > 0) {
      const Bytes& block = c.replies[3];
      EXPECT_TRUE(std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(c.stored), host.begin()))
          << c.name;
    }
    for (size_t i = c.stored; i < host.size(); ++i) ASSERT_EQ(host[i], 0x5A) << c.name << " byte " << i;
    EXPECT_EQ(Sent(c.sent).size(), c.sent) << c.name;
  }
}

TEST_F(BlocksTest, ReadBackWithoutBlockOrChecksumIsNeverOk) {
  // A block that comes without its checksum word, then no block at all: each waits one
  // receive limit and is not confirmed.
  for (const auto& replies : {std::vector<Bytes>{{A}, {A}, {0}, Bytes(256, 0)}, std::vector<Bytes>{{A}, {A}, {0}}}) {
    Rescript(replies);
    std::vector<uint8_t> host(256, 0x5A);
    const auto t0 = Clock::now();
    Answer a = Xfer(ReadBackChipF, host.data(), 0);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_EQ(a.res, 30);
    EXPECT_EQ(a.text, "checksum error");
    EXPECT_EQ(Link(0).Fres, TPrgResult::dwnLoadErrF);
    EXPECT_LT(ms, 4500) << "one receive limit, not two";
    EXPECT_EQ(Link(0).RxTimeOut(), kDefaultRxTimeOutMs);
  }
}

// ---------------------------------------------------------------- argument checks

TEST_F(BlocksTest, ArgumentChecksRefuseBeforeTheBusyMark) {
  std::vector<uint8_t> b(300, 0x11);
  uint8_t* p = b.data();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  struct Case {
    const char* name;
    std::function<Answer()> call;
    bool refused;
  };
  const Case cases[] = {
      {"ProgE 0", [&] { return Xfer(DownProgBlockE, p, 0, 0); }, true},
      {"ProgE -1", [&] { return Xfer(DownProgBlockE, p, 0, -1); }, true},
      {"ProgE 257", [&] { return Xfer(DownProgBlockE, p, 0, 257); }, true},
      {"ProgE 1", [&] { return Xfer(DownProgBlockE, p, 0, 1); }, false},
      {"ProgE 256", [&] { return Xfer(DownProgBlockE, p, 0, 256); }, false},
      {"ProgF null", [&] { return Xfer(DownProgBlockF, static_cast<const uint8_t*>(nullptr), 0); }, true},
      {"ProgU null", [&] { return Xfer(DownProgBlockU, static_cast<const uint8_t*>(nullptr), 0); }, true},
      {"ProgE null", [&] { return Xfer(DownProgBlockE, static_cast<const uint8_t*>(nullptr), 0, 1); }, true},
      {"OverF 0x1F0+16", [&] { return Xfer(DownOverBlockF, p, 0x1F0, 16); }, false},
      {"OverF 0x1F0+17", [&] { return Xfer(DownOverBlockF, p, 0x1F0, 17); }, true},
      {"OverE 0", [&] { return Xfer(DownOverBlockE, p, 0, 0); }, true},
      {"OverE 33", [&] { return Xfer(DownOverBlockE, p, 0, 33); }, true},
      {"OverE 32", [&] { return Xfer(DownOverBlockE, p, 0, 32); }, false},
      {"OverU 0x20+32", [&] { return Xfer(DownOverBlockU, p, 0x20, 32); }, false},
      {"OverU 0xF0+32", [&] { return Xfer(DownOverBlockU, p, 0xF0, 32); }, true},
      {"OverU -10+20", [&] { return Xfer(DownOverBlockU, p, -10, 20); }, false},
      {"OverU max+1", [&] { return Xfer(DownOverBlockU, p, kMax, 1); }, false},
      {"OverU max-5+10", [&] { return Xfer(DownOverBlockU, p, kMax - 5, 10); }, true},
      {"OverU max+32", [&] { return Xfer(DownOverBlockU, p, kMax, 32); }, true},
      {"OverF min+32", [&] { return Xfer(DownOverBlockF, p, kMin, 32); }, true},
      {"OverF min+1", [&] { return Xfer(DownOverBlockF, p, kMin, 1); }, false},
      {"OverF null", [&] { return Xfer(DownOverBlockF, static_cast<const uint8_t*>(nullptr), 0, 1); }, true},
      {"FileF -1", [&] { return Xfer(DownFileBlockF, p, 0, -1); }, true},
      {"FileE 65536", [&] { return Xfer(DownFileBlockE, p, 0, 65536); }, true},
      {"FileU 0", [&] { return Xfer(DownFileBlockU, p, 0, 0); }, false},
      {"FileU 65535", [&] { return Xfer(DownFileBlockU, p, 0, 65535); }, false},
      {"FileF null", [&] { return Xfer(DownFileBlockF, static_cast<const uint8_t*>(nullptr), 0, 0); }, true},
      {"UpF -1", [&] { return Xfer(UpFileBlockF, p, 0, -1); }, true},
      {"UpU 65536", [&] { return Xfer(UpFileBlockU, p, 0, 65536); }, true},
      {"UpE max", [&] { return Xfer(UpFileBlockE, p, 0, kMax); }, true},
      {"UpE 0", [&] { return Xfer(UpFileBlockE, p, 0, 0); }, false},
      {"UpF null", [&] { return Xfer(UpFileBlockF, static_cast<uint8_t*>(nullptr), 0, 1); }, true},
      {"ReadE 0", [&] { return Xfer(ReadBackChipE, p, 0, 0); }, true},
      {"ReadE 257", [&] { return Xfer(ReadBackChipE, p, 0, 257); }, true},
      {"ReadE null", [&] { return Xfer(ReadBackChipE, static_cast<uint8_t*>(nullptr), 0, 16); }, true},
      {"ReadF null", [&] { return Xfer(ReadBackChipF, static_cast<uint8_t*>(nullptr), 0); }, true},
      {"ReadU null", [&] { return Xfer(ReadBackChipU, static_cast<uint8_t*>(nullptr), 0); }, true},
      {"ReadE 256", [&] { return Xfer(ReadBackChipE, p, 0, 256); }, false},
  };
  Rescript({});
  Peer().On({'u'}).Send({Pkt({N})}).Always();  // a call that passes stops at the opening
  for (const auto& c : cases) {
    Peer().ClearLog();
    Answer a = c.call();
    EXPECT_FALSE(Link(0).busy.load()) << c.name;
    if (c.refused) {
      EXPECT_EQ(a.res, 29) << c.name;
      EXPECT_EQ(a.text, "parameter error") << c.name;
      EXPECT_EQ(Sent(0).size(), 0u) << c.name;
    } else {
      EXPECT_EQ(a.res, 37) << c.name;
      EXPECT_EQ(a.text, "File error") << c.name;
      EXPECT_EQ(Sent(2), (std::vector<Bytes>{kOpen, kU})) << c.name;
    }
  }
}

TEST_F(BlocksTest, PresenceCheckAndMissingLinks) {
  std::vector<uint8_t> b(256);
  uint8_t* p = b.data();
  struct Case {
    const char* name;
    std::function<Answer()> call;
    TPrgResult fresAfter;
  };
  const Case cases[] = {
      {"ProgF", [&] { return Xfer(DownProgBlockF, p, 0); }, TPrgResult::noProg},
      {"ProgE", [&] { return Xfer(DownProgBlockE, p, 0, 4); }, TPrgResult::noProg},
      {"OverF", [&] { return Xfer(DownOverBlockF, p, 0, 4); }, TPrgResult::resNone},
      {"FileE", [&] { return Xfer(DownFileBlockE, p, 0, 4); }, TPrgResult::noProg},
      {"UpU", [&] { return Xfer(UpFileBlockU, p, 0, 4); }, TPrgResult::noProg},
      {"ReadF", [&] { return Xfer(ReadBackChipF, p, 0); }, TPrgResult::noProg},
      {"ReadE", [&] { return Xfer(ReadBackChipE, p, 0, 4); }, TPrgResult::noProg},
  };
  for (const auto& c : cases) {
    Link(0).Fres = TPrgResult::resNone;
    Answer a = c.call();
    EXPECT_EQ(a.res, 3) << c.name;
    EXPECT_EQ(a.text, "TESK not found") << c.name;
    EXPECT_EQ(Link(0).Fres, c.fresAfter) << c.name;
  }
  EXPECT_EQ(Sent(0).size(), 0u);

  // Behind the export layer: the block transfers answer nothing for a missing link, the
  // read back names the channel.
  int32_t res = 99;
  EXPECT_EQ(api::RdrList->DownOverBlock(7, tMemType::isFlash, p, 0, 1, res), "");
  EXPECT_EQ(api::RdrList->UpFileBlock(7, tMemType::isFlash, p, 0, 1, res), "");
  EXPECT_EQ(res, 99);
  EXPECT_EQ(api::RdrList->ReadBackChipE(7, p, 0, 4, res), "USB channel 7 closed");
  EXPECT_EQ(res, 3);
}
