// Programmers that are unplugged in the middle of an exchange, fall silent, flood the link
// with packets nobody asked for, or answer just too late, for every command family. Each
// call must end within its bound with a code and a text; an unplugged programmer is "not
// found" from then on, a silent one still counts as found; after the next discovery the
// programmers that are left work on.
//
// The rows are independent, so each runs on a channel of its own, all at the same time:
// the table costs as long as its slowest row, and each time limit is measured once.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/api/files_fixture.h"
#ifdef _WIN32
#include "tools/vusb/FakeDriver.h"
#endif

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;

namespace {

// What a loaded 2-core machine (or Wine) may add to a bound.
constexpr long long kSlackMs = 1800;
// How long the link may take to notice that its device has gone.
constexpr long long kNoticeMs = 200;
constexpr long long kRxLimitMs = 2000;

long long MsSince(Clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

int Res(TPrgResult r) { return Ord(r); }

std::string Serial(int channel) {
  char t[9];
  std::snprintf(t, sizeof t, "%08X", 0x1000u + static_cast<unsigned>(channel));
  return t;
}

// Waits until the peer has sent `n` packets.
bool WaitForIn(const ScriptedPeer& peer, size_t n, uint32_t ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    auto log = peer.Log();
    size_t in = std::count_if(log.begin(), log.end(), [](const Event& e) { return e.kind == Event::Kind::In; });
    if (in >= n) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
}

// Unplugs the peer once it has sent `n` packets and the link has had time to take them
// (an unplug loses what the device had not handed over yet).
void UnplugOnceTaken(ScriptedPeer& p, size_t n) {
  if (!WaitForIn(p, n, 5000)) return;
  std::this_thread::sleep_for(100ms);
  p.Unplug();
}

// On Windows the stand-in driver watches the link's cancellation paths: no handle may be
// closed under a pending transfer, no record reused while in flight.
void ExpectCleanDriverUse() {
#ifdef _WIN32
  const vusb::fake::Stats st = vusb::fake::GetStats();
  EXPECT_EQ(st.closedWithPendingIo, 0);
  EXPECT_EQ(st.reusedOverlapped, 0);
  EXPECT_EQ(st.badCloses, 0);
#endif
}

// Stands for "TESK at Port " and the channel's serial number in a row's expected text.
constexpr const char* kFoundText = "TESK at Port <serial>";

// The worst amount by which a call overran its bound (negative: all ended early).
struct Overshoot {
  long long worst = -1'000'000;
  std::string row;
  void Note(const std::string& name, long long ms, long long bound) {
    std::printf("  %-52s %6lld ms (bound %lld ms)\n", name.c_str(), ms, bound);
    if (ms - bound > worst) {
      worst = ms - bound;
      row = name;
    }
  }
  ~Overshoot() {
    if (!row.empty()) std::printf("worst overshoot of a bound: %lld ms (%s)\n", worst, row.c_str());
  }
};

enum class After { Unplugged, Present };

struct Row {
  std::string name;
  std::function<void(ScriptedPeer&, TUSBreader&)> script;  // rules and faults, before the call
  std::function<void(ScriptedPeer&)> meanwhile;             // on a thread of its own during the call
  std::function<Answer(int32_t, ScriptedPeer&)> call;
  int32_t res;
  std::string text;
  long long minMs, maxMs;  // the call ends after minMs and within maxMs (plus the slack)
  After after;
  std::function<void(int32_t, ScriptedPeer&, TUSBreader&)> then;  // further checks, after the table
};

// Calls `fn(channel, &res, text)` with res preset to a value no call writes.
template <class Fn>
Answer Ask(Fn fn, int32_t channel) {
  Answer a{99, {}};
  char text[NURVA_TEXT_BUFFER_SIZE] = "#";
  fn(channel, &a.res, text);
  a.text = text;
  return a;
}

class UnplugTest : public ApiTest {
 protected:
  void RunTable(const std::vector<Row>& rows);
  Overshoot overshoot;
};

void UnplugTest::RunTable(const std::vector<Row>& rows) {
  const int n = static_cast<int>(rows.size());
  Discover(n + 1);  // the last programmer takes part in no row and must keep working
  ScriptedPeer& control = *peers[static_cast<size_t>(n)];
  control.On({0x02, 'T'}).Always().Send({Pkt({0x4A, 0x01})});
  for (int i = 0; i < n; ++i) rows[static_cast<size_t>(i)].script(*peers[static_cast<size_t>(i)], Link(i));

  std::vector<Answer> answers(rows.size());
  std::vector<long long> times(rows.size());
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      const Row& row = rows[static_cast<size_t>(i)];
      ScriptedPeer& peer = *peers[static_cast<size_t>(i)];
      std::thread side;
      if (row.meanwhile) side = std::thread([&] { row.meanwhile(peer); });
      const auto t0 = Clock::now();
      answers[static_cast<size_t>(i)] = row.call(i, peer);
      times[static_cast<size_t>(i)] = MsSince(t0);
      if (side.joinable()) side.join();
    });
  }
  // Meanwhile the programmer outside the table answers as always.
  int32_t volt = 0;
  Answer v = Ask([&](int32_t ch, int32_t* r, char* t) { GetTargVolt(ch, &volt, r, t); }, n);
  EXPECT_EQ(v.text, "3.3");
  for (auto& t : threads) t.join();

  for (int i = 0; i < n; ++i) {
    const Row& row = rows[static_cast<size_t>(i)];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(answers[static_cast<size_t>(i)].res, row.res);
    EXPECT_EQ(answers[static_cast<size_t>(i)].text,
              row.text == kFoundText ? "TESK at Port " + Serial(i) : row.text);
    EXPECT_GE(times[static_cast<size_t>(i)], row.minMs);
    EXPECT_LE(times[static_cast<size_t>(i)], row.maxMs + kSlackMs);
    overshoot.Note(row.name, times[static_cast<size_t>(i)], row.maxMs);
  }

  // Afterwards (again on all channels at once: a silent programmer's check takes a
  // receive limit) an unplugged programmer is not found; a silent one is.
  threads.clear();
  for (int i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      const Row& row = rows[static_cast<size_t>(i)];
      SCOPED_TRACE(row.name);
      if (row.then) row.then(i, *peers[static_cast<size_t>(i)], Link(i));
      Answer check = Ask(CheckProgrammer, i);
      if (row.after == After::Unplugged) {
        EXPECT_EQ(check.res, Res(TPrgResult::MMCnoProg));
        EXPECT_EQ(check.text, "programmer not found! at Port " + Serial(i));
        int32_t mv = 0;
        Answer volts = Ask([&](int32_t ch, int32_t* r, char* t) { GetTargVolt(ch, &mv, r, t); }, i);
        EXPECT_EQ(volts.res, Res(TPrgResult::noProg));
        EXPECT_EQ(volts.text, "TESK not found");
      } else {
        EXPECT_EQ(check.res, Res(TPrgResult::MMCok));
        EXPECT_EQ(check.text, "TESK at Port " + Serial(i));
      }
    });
  }
  for (auto& t : threads) t.join();

  // A new discovery finds the programmers that are left, and they work.
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    peers[static_cast<size_t>(i)]->SilentAfter(-1);
    if (rows[static_cast<size_t>(i)].after == After::Present) ++kept;
  }
  AbortAll();
  int32_t count = -1;
  char ids[512];
  GetProgIDs(&count, ids);
  ASSERT_EQ(count, kept + 1);
  control.On({0x02, 'G'}).Send({Pkt({1})});
  Answer again = Ask(CheckProgrammer, kept);
  EXPECT_EQ(again.res, Res(TPrgResult::MMCmissing));
  EXPECT_EQ(again.text, "TESK found, no flashcard");
  Answer v2 = Ask([&](int32_t ch, int32_t* r, char* t) { GetTargVolt(ch, &volt, r, t); }, kept);
  EXPECT_EQ(v2.text, "3.3");
  ExpectCleanDriverUse();
}

// A PC project file of three blocks (128, 128, 44 bytes), each block's bytes its own.
struct PcFile {
  std::filesystem::path path = std::filesystem::temp_directory_path() / "unplugdl.pack";
  Bytes data;
  PcFile() {
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), 300);
  }
  ~PcFile() {
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  Bytes Block(int k) const {
    const size_t b = static_cast<size_t>(k) * 128;
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(b),
                 data.begin() + static_cast<std::ptrdiff_t>(std::min(b + 128, data.size())));
  }
};

Answer Download(int32_t ch, const std::string& path) {
  return Ask([&](int32_t c, int32_t* r, char* t) { DownloadFile(c, path.c_str(), r, t); }, ch);
}

// The programmer's half of a download up to the first block: card check, 'D', 'd'.
void ScriptDownloadOpening(ScriptedPeer& p) {
  p.On({0x02, 'G'}).Send({Pkt({0})});
  p.On({0x02, 'D'}).Send({Pkt({kACK})});
  p.On({0x02, 'd'}).Send({Pkt({kACK}), Pkt({kACK})});
}

}  // namespace

TEST_F(UnplugTest, UnpluggedMidExchangeOrFlooded) {
  PcFile file;
  static uint8_t upBlock[8];
  constexpr int kFlood = 1000;

  const std::vector<Row> rows = {
      // ---- unplugged in the middle of an exchange: no wait runs out after the unplug
      {"download, unplugged after its first block",
       [&](ScriptedPeer& p, TUSBreader&) {
         ScriptDownloadOpening(p);
         p.On(file.Block(0)).Send({Pkt({kACK})});
         p.UnplugAfter(12);  // 'G' 'D' two time words 'd' the name (2) and block 1 (3): block 2's data
       },
       nullptr, [&](int32_t ch, ScriptedPeer&) { return Download(ch, file.path.string()); },
       Res(TPrgResult::FileDwnErr), "filesize mismatch", 0, 5 + 100 + kNoticeMs, After::Unplugged, nullptr},
      {"read back, unplugged before its block",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({'u'}).Send({Pkt({kACK})});
         p.On({'U'}).Send({Pkt({kACK}), Pkt({0})});
         p.UnplugAfter(5);  // the address
       },
       nullptr,
       [](int32_t ch, ScriptedPeer&) {
         static uint8_t buf[256];
         return Ask([&](int32_t c, int32_t* r, char* t) { ReadBackChipF(c, buf, 0x100, r, t); }, ch);
       },
       Res(TPrgResult::dwnLoadErrF), "checksum error", 0, 150 + kNoticeMs, After::Unplugged, nullptr},
      {"up-file block, unplugged after two of eight bytes",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({'u'}).Send({Pkt({kACK})});
         p.On({'r'}).Send({Pkt({kACK})});
         p.On({8, 0}).Send({Pkt({kCR}), Pkt({'a'}), Pkt({'b'})});
       },
       [](ScriptedPeer& p) { UnplugOnceTaken(p, 5); },
       [](int32_t ch, ScriptedPeer&) {
         std::fill(std::begin(upBlock), std::end(upBlock), 0);
         return Ask([&](int32_t c, int32_t* r, char* t) { UpFileBlockF(c, upBlock, 0, 8, r, t); }, ch);
       },
       Res(TPrgResult::dwnLoadErrF), "checksum error", 0, 200 + 3 * 10 + 100 + 100 + kNoticeMs, After::Unplugged,
       [](int32_t, ScriptedPeer&, TUSBreader&) {
         EXPECT_EQ(Bytes(upBlock, upBlock + 8), (Bytes{'a', 'b', kNAK, kNAK, kNAK, kNAK, kNAK, kNAK}));
       }},
      {"file listing, unplugged after three names",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({0x02, 'C'}).Send({Pkt({4})});
         std::vector<Pkt> three;
         for (const char* nm : {"A.PACK", "B.PACK", "C.PACK"}) three.insert(three.end(), {StringReply(nm), Pkt({kACK})});
         p.On(NamePackets("*.*")[1]).Send(three);
       },
       [](ScriptedPeer& p) { UnplugOnceTaken(p, 7); },
       [](int32_t ch, ScriptedPeer&) { return Ask(GetFileNames, ch); },
       Res(TPrgResult::progTimeOutErr), "communication error", 0,
       // the fixed pauses: card check, command and pattern, one per name attempt
       500 + 10 + 50 + (3 + 10) * 100 + kNoticeMs, After::Unplugged, nullptr},
      {"running job's status stream, unplugged after 'prog Flash'",
       [](ScriptedPeer& p, TUSBreader&) { p.On({'P'}).Send({Pkt({kACK}), Pkt({'c'}), Pkt({'F'})}); },
       nullptr,
       [](int32_t ch, ScriptedPeer& p) {
         Answer start = Ask(ProgDevice, ch);
         EXPECT_EQ(start.text, "programming");
         // The host polls until the job reports something other than progress.
         Answer a = start;
         bool unplugged = false;
         const auto t0 = Clock::now();
         while (MsSince(t0) < 4000) {
           a = Ask(GetProgStatus, ch);
           if (a.res == Res(TPrgResult::prgFlash) && !unplugged) {
             p.Unplug();
             unplugged = true;
           } else if (a.res != Res(TPrgResult::eraChip) && a.res != Res(TPrgResult::prgFlash) &&
                      a.res != Res(TPrgResult::resOk)) {
             break;
           }
         }
         EXPECT_TRUE(unplugged);
         return a;
       },
       Res(TPrgResult::noProg), "TESK not found", 0, 3 * 50 + kNoticeMs, After::Unplugged,
       [](int32_t, ScriptedPeer&, TUSBreader& l) { EXPECT_EQ(l.OpMode, TOpMode::opIdle); }},

      // ---- a flood of packets nobody asked for, while a command runs
      {"check: during a flood of unasked packets",
       [](ScriptedPeer& p, TUSBreader&) {
         std::vector<Pkt> flood(kFlood, Pkt({0x07}));
         p.Push(flood);
       },
       nullptr,
       // Without a rule for 'G' the link reads a flood packet or nothing: either is "found".
       [](int32_t ch, ScriptedPeer&) { return Ask(CheckProgrammer, ch); }, Res(TPrgResult::MMCok),
       kFoundText, 0, 5 + kRxLimitMs, After::Present,
       [](int32_t ch, ScriptedPeer& p, TUSBreader& l) {
         // Once the flood is in, the queue holds it and the next command still gets its reply.
         ASSERT_TRUE(WaitForIn(p, kFlood, 20000));
         int32_t last = -1;
         for (int i = 0; i < 400 && l.QueuedPackets() != last; ++i) {
           last = l.QueuedPackets();
           std::this_thread::sleep_for(50ms);
         }
         p.On({0x02, 'G'}).Send({Pkt({2})});
         Answer a = Ask(CheckProgrammer, ch);
         EXPECT_EQ(a.res, Res(TPrgResult::MMCinitFailed));
         EXPECT_EQ(a.text, "TESK found, MMC init failed");
       }},
  };
  RunTable(rows);
}

TEST_F(UnplugTest, SilentAfterSomePacketsOrAnsweringJustTooLate) {
  PcFile file;
  const std::string fileName = "X.PACK";
  const std::vector<Row> rows = {
      // ---- silent after some packets: each family's wait runs out once, the programmer
      // still counts as found
      {"check: silent from the start", [](ScriptedPeer& p, TUSBreader&) { p.SilentAfter(0); }, nullptr,
       [](int32_t ch, ScriptedPeer&) { return Ask(CheckProgrammer, ch); }, Res(TPrgResult::MMCok),
       kFoundText, kRxLimitMs - 100, 5 + kRxLimitMs, After::Present, nullptr},
      {"files: silent after the card check command", [](ScriptedPeer& p, TUSBreader&) { p.SilentAfter(0); },
       nullptr, [](int32_t ch, ScriptedPeer&) { return Ask(GetFileNames, ch); },
       Res(TPrgResult::FileErr), "MMC check failed", 500 + kRxLimitMs - 100, 500 + kRxLimitMs, After::Present,
       nullptr},
      {"download: silent after the card check",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({0x02, 'G'}).Send({Pkt({0})});
         p.SilentAfter(1);
       },
       nullptr, [&](int32_t ch, ScriptedPeer&) { return Download(ch, file.path.string()); },
       Res(TPrgResult::progComErr), "communication error", kRxLimitMs - 100, 5 + kRxLimitMs, After::Present,
       nullptr},
      {"jobs: silent at the start of a job", [](ScriptedPeer& p, TUSBreader&) { p.SilentAfter(0); }, nullptr,
       [](int32_t ch, ScriptedPeer&) { return Ask(ProgFlash, ch); }, Res(TPrgResult::FileErr),
       "File Error", 3000 - 100, 3000, After::Present, nullptr},
      {"status: no status during a job",
       [](ScriptedPeer& p, TUSBreader& l) {
         p.SilentAfter(0);
         l.OpMode = TOpMode::opProg;
         l.Msg = "prog Flash";
         l.Fres = TPrgResult::prgFlash;
       },
       nullptr, [](int32_t ch, ScriptedPeer&) { return Ask(GetProgStatus, ch); },
       Res(TPrgResult::prgFlash), "prog Flash", 50 - 10, 50, After::Present, nullptr},
      {"read back: silent after the opening",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({'u'}).Send({Pkt({kACK})});
         p.SilentAfter(2);
       },
       nullptr,
       [](int32_t ch, ScriptedPeer&) {
         static uint8_t buf[256];
         return Ask([&](int32_t c, int32_t* r, char* t) { ReadBackChipU(c, buf, 0, r, t); }, ch);
       },
       Res(TPrgResult::FileErr), "file encrypted", 150 + kRxLimitMs - 100, 150 + kRxLimitMs, After::Present,
       nullptr},
      {"blocks: silent after the block's data",
       [](ScriptedPeer& p, TUSBreader&) {
         p.On({'u'}).Send({Pkt({kACK})});
         p.On({'D'}).Send({Pkt({kACK}), Pkt({0})});
         p.SilentAfter(3);
       },
       nullptr,
       [](int32_t ch, ScriptedPeer&) {
         static uint8_t block[256];
         return Ask([&](int32_t c, int32_t* r, char* t) { DownProgBlockF(c, block, 0, r, t); }, ch);
       },
       Res(TPrgResult::dwnLoadErrF), "communication error3", 200 + kRxLimitMs - 100, 200 + kRxLimitMs,
       After::Present, nullptr},

      // ---- replies that come just after each time limit are taken as missing, and are not
      // read as the answer to the next command
      {"check: the card's answer 150 ms after 2000 ms",
       [](ScriptedPeer& p, TUSBreader&) { p.On({0x02, 'G'}).Send({Pkt({1}).After(kRxLimitMs + 150)}); }, nullptr,
       [](int32_t ch, ScriptedPeer&) { return Ask(CheckProgrammer, ch); }, Res(TPrgResult::MMCok),
       kFoundText, kRxLimitMs - 100, 5 + kRxLimitMs, After::Present, nullptr},
      {"jobs: the start's answer 150 ms after 3000 ms",
       [](ScriptedPeer& p, TUSBreader&) { p.On({'P'}).Send({Pkt({kACK}).After(3000 + 150)}); }, nullptr,
       [](int32_t ch, ScriptedPeer&) { return Ask(ProgDevice, ch); }, Res(TPrgResult::FileErr),
       "File Error", 3000 - 100, 3000, After::Present,
       [](int32_t, ScriptedPeer&, TUSBreader& l) { EXPECT_EQ(l.OpMode, TOpMode::opIdle); }},
      {"params: the record's answer 150 ms after 4000 ms",
       [&](ScriptedPeer& p, TUSBreader&) {
         p.On({0x02, 'a'}).Send({Pkt({'?'}), Pkt({0, 0})});
         p.On(NamePackets(fileName)[1]).Send({Pkt({kACK}).After(4000 + 150)});
       },
       nullptr,
       [&](int32_t ch, ScriptedPeer&) {
         return Ask([&](int32_t c, int32_t* r, char* t) { GetProjParams(c, fileName.c_str(), r, t); }, ch);
       },
       Res(TPrgResult::FileNotFound), "File not found", 10 + 4000 - 100, 10 + 4000, After::Present, nullptr},
      {"status: a status 100 ms after the 50 ms wait",
       [](ScriptedPeer& p, TUSBreader& l) {
         l.OpMode = TOpMode::opProg;
         l.Msg = "erase Chip";
         l.Fres = TPrgResult::eraChip;
         p.SilentAfter(0);
       },
       nullptr,
       [](int32_t ch, ScriptedPeer& p) {
         p.Push({Pkt({'F'}).After(150)});
         return Ask(GetProgStatus, ch);
       },
       Res(TPrgResult::eraChip), "erase Chip", 50 - 10, 50, After::Present,
       [](int32_t ch, ScriptedPeer&, TUSBreader&) {
         // The late status is the next poll's.
         std::this_thread::sleep_for(200ms);
         Answer next = Ask(GetProgStatus, ch);
         EXPECT_EQ(next.res, Res(TPrgResult::prgFlash));
         EXPECT_EQ(next.text, "prog Flash");
       }},
  };
  RunTable(rows);
}

TEST_F(UnplugTest, UnpluggedDuringDiscovery) {
  // The first programmer goes as it is asked to identify itself: the retry of its device
  // number finds the next one, and no receive limit is spent waiting on the gone device.
  AddProgrammer(0x1000).UnplugAfter(1);
  for (uint32_t sn : {0x1001u, 0x1002u}) AddProgrammer(sn).On({0x02, 'G'}).Send({Pkt({1})});
  const auto t0 = Clock::now();
  AbortAll();
  const long long ms = MsSince(t0);
  // The start pause and one retry pause; the gone device costs no receive limit.
  const long long bound = 1000 + 2000 + kNoticeMs;
  overshoot.Note("discovery, a programmer unplugged while identified", ms, bound);
  // Less slack than elsewhere: waiting out the receive limit would add 2000 ms.
  EXPECT_LE(ms, bound + kSlackMs - 300);

  int32_t count = -1;
  char ids[512];
  GetProgIDs(&count, ids);
  ASSERT_EQ(count, 2);
  for (int ch = 0; ch < 2; ++ch) {
    Answer a = Ask(CheckProgrammer, ch);
    EXPECT_EQ(a.res, Res(TPrgResult::MMCmissing));
    EXPECT_EQ(a.text, "TESK found, no flashcard");
  }
  ExpectCleanDriverUse();
}
