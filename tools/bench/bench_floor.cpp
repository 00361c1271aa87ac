// The cost of each command above the protocol's own floor, against virtual programmers
// that answer at once, and what idle links and a flood of unasked packets cost.
//
//   bench_floor [iterations] [--quick]
//
// For each call: the mean time of `iterations` calls one after the other, next to its
// floor, the time the protocol itself fixes for that call: the fixed pauses the call
// makes, the receive limits it waits out in silence, and the receive loop's 3 ms pause
// after each packet that comes in for it. The floor is counted, not assumed: one extra
// call runs with a clock seam that passes the time through untouched and adds up the
// pauses and waits as the library asks for them. measured / floor shows what the
// library's own work adds.
//
// Then: discovery of 16 programmers against its fixed 1000 ms, the CPU time of 16
// connected idle links (getrusage over some seconds), heap and resident memory per link,
// and memory while 100,000 unasked packets sit in one link's queue and after a command
// has cleared it. --quick: one iteration, a short idle window, a flood of 1,000; for a
// smoke run.
//
// The programmers run in a child process, so the figures of this process are the
// library's alone. Prints figures; asserts nothing.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"
#include "tools/sim/Card.h"
#include "tools/sim/Sample.h"
#include "tools/sim/VirtualProgrammer.h"
#include "transport/MsgQueue.h"
#include "transport/TimeSeam.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kProgrammers = 16;
constexpr uint32_t kPacketPauseMs = 3;  // the receive loop's rest after each packet it queues

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// ---------------------------------------------------------------- the programmers' side

// The child: 16 programmers with the sample project open, served until the parent says
// stop. Commands on `cmd`: 'f' + u32 count floods programmer 0 with that many unasked
// status packets (answered with 'd' on `ack` when all went out), 'q' stops.
int ServeProgrammers(const fs::path& bus, const fs::path& cards, int cmd, int ack) {
  std::vector<std::unique_ptr<nurva::sim::VirtualProgrammer>> progs;
  const auto sample = nurva::sim::MakeSampleProject().Serialize();
  for (int i = 0; i < kProgrammers; ++i) {
    nurva::sim::ProgrammerConfig cfg;
    char name[16];
    std::snprintf(name, sizeof name, "prog-%02d", i);
    cfg.socketName = name;
    cfg.identity.serial = 0xBE000000u + static_cast<uint32_t>(i);
    cfg.cardDir = cards / name;
    nurva::sim::Card card(cfg.cardDir);
    card.Write(nurva::sim::kSampleFile, sample);
    cfg.openProject = nurva::sim::kSampleFile;
    cfg.jobSpeed = 1000;  // jobs end at once: the start calls are measured, not the work
    auto p = std::make_unique<nurva::sim::VirtualProgrammer>(bus.string(), cfg);
    std::string err;
    if (!p->Start(&err)) {
      std::fprintf(stderr, "programmer %d: %s\n", i, err.c_str());
      return 1;
    }
    progs.push_back(std::move(p));
  }
  char c = 'r';
  if (::write(ack, &c, 1) != 1) return 1;
  for (;;) {
    if (::read(cmd, &c, 1) != 1 || c == 'q') break;
    if (c == 'f') {
      uint32_t n = 0;
      if (::read(cmd, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) break;
      const uint8_t status[3] = {0x01, 0x00, 'F'};
      uint32_t sent = 0;
      while (sent < n && progs[0]->Device().SendIn(status)) ++sent;
      c = 'd';
      if (::write(ack, &c, 1) != 1) break;
    }
  }
  for (auto& p : progs) p->Stop();
  return 0;
}

// ---------------------------------------------------------------- the floor

// Real time, passed through, with the pauses and waits the library asks for added up.
// The caller's thread makes the command's pauses; every other thread pausing is a
// receive loop resting after a packet.
class FloorCounter : public nurva::TTimeSeam {
 public:
  void Start() {
    host_ = std::this_thread::get_id();
    hostMs_ = 0;
    silentMs_ = 0;
    packets_ = 0;
  }
  double FloorMs() const {
    return static_cast<double>(hostMs_.load() + silentMs_.load()) + kPacketPauseMs * static_cast<double>(packets_.load());
  }
  uint32_t FixedMs() const { return hostMs_.load(); }
  uint32_t SilentMs() const { return silentMs_.load(); }
  uint32_t Packets() const { return packets_.load(); }

  void Pause(uint32_t ms) override {
    if (std::this_thread::get_id() == host_)
      hostMs_ += ms;
    else
      ++packets_;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  bool AwaitPacket(nurva::TMsgQueue& queue, uint32_t ms) override {
    const bool got = queue.Event().WaitFor(ms);
    if (!got && std::this_thread::get_id() == host_) silentMs_ += ms;
    return got;
  }

 private:
  std::thread::id host_;
  std::atomic<uint32_t> hostMs_{0}, silentMs_{0}, packets_{0};
};

// Fixed pauses take no time, replies are awaited for real (the flood's queue fills at
// the bus's speed instead of one packet per 3 ms).
class NoPauses : public nurva::TTimeSeam {
 public:
  void Pause(uint32_t) override {}
  bool AwaitPacket(nurva::TMsgQueue& queue, uint32_t ms) override { return queue.Event().WaitFor(ms); }
};

struct Row {
  const char* family;
  std::string call;
  double meanMs;
  double floorMs;
  uint32_t fixedMs, silentMs, packets;
  std::string answer;
};

struct Text {
  int32_t res = -1;
  char buf[4096] = {};
};

// ---------------------------------------------------------------- memory and CPU

size_t HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

size_t ResidentBytes() {
  std::ifstream f("/proc/self/statm");
  size_t size = 0, resident = 0;
  f >> size >> resident;
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// Waits until the heap stops growing for `quietMs`, at most `limitMs`.
void HeapSettles(int quietMs, int limitMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(limitMs);
  size_t last = HeapInUse();
  auto quietSince = Clock::now();
  while (Clock::now() < until && MsSince(quietSince) < quietMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const size_t now = HeapInUse();
    if (now != last) {
      last = now;
      quietSince = Clock::now();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int iterations = 5;
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0)
      quick = true;
    else
      iterations = std::max(1, std::atoi(argv[i]));
  }
  if (quick) iterations = 1;

  // The cards live in memory where it can: a programmer's card write (its fsync) is the
  // programmer's own time, not the library's.
  std::string tmpl = fs::is_directory("/dev/shm") ? "/dev/shm/nurva-bench-floor-XXXXXX" : "/tmp/nurva-bench-floor-XXXXXX";
  if (!::mkdtemp(tmpl.data())) return 1;
  const fs::path root = tmpl.c_str(), bus = root / "bus", cards = root / "cards";
  fs::create_directories(bus);
  ::setenv("NURVA_VUSB_DIR", bus.c_str(), 1);

  int toChild[2], fromChild[2];
  if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return 1;
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    ::_exit(ServeProgrammers(bus, cards, toChild[0], fromChild[1]));
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  auto childSays = [&](char want) {
    char c = 0;
    return ::read(fromChild[0], &c, 1) == 1 && c == want;
  };
  auto stopChild = [&] {
    const char q = 'q';
    (void)!::write(toChild[1], &q, 1);
    int st = 0;
    ::waitpid(child, &st, 0);
    std::error_code ec;
    fs::remove_all(root, ec);
  };
  if (!childSays('r')) {
    std::fprintf(stderr, "the programmers did not start\n");
    stopChild();
    return 1;
  }

  // What a 3 ms pause really lasts on this machine now (the receive loop's rest): under
  // load every pause ends late by the time the thread waits to be run again.
  double pauseMs = 0;
  for (int i = 0; i < 50; ++i) {
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPacketPauseMs));
    pauseMs += MsSince(t0) / 50;
  }
  double load[3] = {0, 0, 0};
  ::getloadavg(load, 3);
  std::printf("virtual programmers answering at once (a child process), %d calls per row\n", iterations);
  std::printf("this machine now: load average %.2f, a 3 ms pause lasts %.2f ms\n\n", load[0], pauseMs);

  // ---- discovery
  const size_t heapBefore = HeapInUse(), rssBefore = ResidentBytes();
  std::vector<double> discovery;
  for (int i = 0; i < (quick ? 1 : 3); ++i) {
    const auto t0 = Clock::now();
    AbortAll();
    discovery.push_back(MsSince(t0));
  }
  int32_t count = 0;
  Text t;
  GetProgIDs(&count, t.buf);
  if (count != kProgrammers) {
    std::fprintf(stderr, "found %d programmers, not %d\n", count, kProgrammers);
    stopChild();
    return 1;
  }
  std::sort(discovery.begin(), discovery.end());
  HeapSettles(200, 2000);
  const size_t heapLinks = HeapInUse(), rssLinks = ResidentBytes();

  // ---- each command family on channel 0
  const fs::path pcFile = root / "BENCH.pack";
  {
    std::vector<char> data(1000);  // 8 blocks, the last one short
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
    std::ofstream(pcFile, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  std::vector<uint8_t> block(256), in(256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 5 + 1);
  int32_t v = 0;

  using Op = std::function<void(Text&)>;
  struct Case {
    const char* family;
    const char* call;
    Op op;
    Op after;  // runs after each timed call, untimed (puts the state back)
  };
  const Op none;
  // Follows the job to its end, then polls until a poll finds nothing queued, so no
  // status of this job is left for the next row.
  auto waitJobEnd = [](Text& x) {
    const auto until = Clock::now() + std::chrono::seconds(10);
    do GetProgStatus(0, &x.res, x.buf);
    while (x.res != NURVA_RES_progDone && x.res < NURVA_RES_PwrDownErr && Clock::now() < until);
    for (int i = 0; i < 200; ++i) {
      const auto t0 = Clock::now();
      GetProgStatus(0, &x.res, x.buf);
      if (MsSince(t0) >= 45) break;
    }
  };
  const std::vector<Case> cases = {
      {"check", "CheckProgrammer", [](Text& x) { CheckProgrammer(0, &x.res, x.buf); }, none},
      {"check", "InitChannel", [](Text& x) { InitChannel(0, &x.res, x.buf); }, none},
      {"check", "ReleaseTarget", [](Text& x) { ReleaseTarget(0, &x.res, x.buf); }, none},
      {"check", "CheckDevice", [](Text& x) { CheckDevice(0, &x.res, x.buf); }, none},
      {"check", "GetTargVolt", [&](Text& x) { GetTargVolt(0, &v, &x.res, x.buf); }, none},
      {"check", "GetFuses 0", [&](Text& x) { GetFuses(0, 0, &v, &x.res, x.buf); }, none},
      {"files", "GetFileNames", [](Text& x) { GetFileNames(0, &x.res, x.buf); }, none},
      {"files", "CheckAfile", [](Text& x) { CheckAfile(0, nurva::sim::kSampleFile, &x.res, x.buf); }, none},
      {"files", "GetFileState", [](Text& x) { GetFileState(0, &x.res, x.buf); }, none},
      {"files", "CloseAfile", [](Text& x) { CloseAfile(0, &x.res, x.buf); },
       [](Text& x) { OpenAfile(0, nurva::sim::kSampleFile, &x.res, x.buf); }},
      {"files", "OpenAfile", [](Text& x) { OpenAfile(0, nurva::sim::kSampleFile, &x.res, x.buf); }, none},
      {"download", "DownloadFile 1000 B", [&](Text& x) { DownloadFile(0, pcFile.c_str(), &x.res, x.buf); },
       [](Text& x) { DeleteAfile(0, "BENCH.PACK", &x.res, x.buf); }},
      {"files", "DeleteAfile",
       [](Text& x) { DeleteAfile(0, "BENCH.PACK", &x.res, x.buf); },
       [&](Text& x) { DownloadFile(0, pcFile.c_str(), &x.res, x.buf); }},
      {"params", "GetProjParams", [](Text& x) { GetProjParams(0, nurva::sim::kSampleFile, &x.res, x.buf); }, none},
      {"jobs", "EraseDevice", [](Text& x) { EraseDevice(0, &x.res, x.buf); }, none},
      {"jobs", "ProgFuses", [](Text& x) { ProgFuses(0, &x.res, x.buf); }, none},
      {"jobs", "ProgDevice (start)", [](Text& x) { ProgDevice(0, &x.res, x.buf); }, waitJobEnd},
      {"jobs", "VerifyDevice (start)", [](Text& x) { VerifyDevice(0, &x.res, x.buf); }, waitJobEnd},
      {"status", "GetProgStatus, none queued", [](Text& x) { GetProgStatus(0, &x.res, x.buf); }, none},
      {"read back", "ReadBackChipF", [&](Text& x) { ReadBackChipF(0, in.data(), 0, &x.res, x.buf); }, none},
      {"read back", "ReadBackChipE 64", [&](Text& x) { ReadBackChipE(0, in.data(), 0, 64, &x.res, x.buf); }, none},
      {"blocks", "DownProgBlockF", [&](Text& x) { DownProgBlockF(0, block.data(), 0x200, &x.res, x.buf); }, none},
      {"blocks", "DownProgBlockE 64", [&](Text& x) { DownProgBlockE(0, block.data(), 0x10, 64, &x.res, x.buf); }, none},
      {"blocks", "DownOverBlockF 8", [&](Text& x) { DownOverBlockF(0, block.data(), 0x2F8, 8, &x.res, x.buf); }, none},
      {"blocks", "DownFileBlockF 128", [&](Text& x) { DownFileBlockF(0, block.data(), 0, 128, &x.res, x.buf); }, none},
      {"blocks", "UpFileBlockF 128", [&](Text& x) { UpFileBlockF(0, in.data(), 0, 128, &x.res, x.buf); }, none},
  };

  std::vector<Row> rows;
  FloorCounter counter;
  for (const Case& c : cases) {
    Text x;
    // One call with the counting clock gives the floor; it also warms the path up.
    nurva::SetTimeSeam(&counter);
    counter.Start();
    c.op(x);
    // The receive loop's pause after the call's last packet ends after the call.
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * kPacketPauseMs));
    nurva::SetTimeSeam(nullptr);
    if (c.after) c.after(x);
    Row r{c.family, c.call, 0, counter.FloorMs(), counter.FixedMs(), counter.SilentMs(), counter.Packets(), {}};
    double total = 0;
    for (int i = 0; i < iterations; ++i) {
      const auto t0 = Clock::now();
      c.op(x);
      total += MsSince(t0);
      r.answer = std::string(x.buf).substr(0, 24) + " (" + std::to_string(x.res) + ")";
      for (char& ch : r.answer)
        if (ch == '\r' || ch == '\n') ch = ' ';
      if (c.after) {
        Text y;
        c.after(y);
        // The after-step's last packet may hold the receive loop in its pause; let it end
        // so the next timed call starts as the first did.
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * kPacketPauseMs));
      }
    }
    r.meanMs = total / iterations;
    rows.push_back(r);
  }

  std::printf("%-10s %-28s %10s %10s %7s   %s\n", "family", "call", "measured", "floor", "ratio",
              "floor = fixed + silent + 3 ms x packets; answer");
  double worst = 0;
  for (const Row& r : rows) {
    char ratio[16] = "      -";  // nothing comes in and nothing waits: no floor to compare with
    if (r.floorMs > 0) {
      worst = std::max(worst, r.meanMs / r.floorMs);
      std::snprintf(ratio, sizeof ratio, "%7.3f", r.meanMs / r.floorMs);
    }
    std::printf("%-10s %-28s %8.2f ms %7.1f ms %s   %u + %u + 3 x %u; %s\n", r.family, r.call.c_str(), r.meanMs,
                r.floorMs, ratio, r.fixedMs, r.silentMs, r.packets, r.answer.c_str());
  }
  std::printf("worst ratio %.3f\n\n", worst);

  std::printf("discovery of %d programmers: median %.1f ms (min %.1f, max %.1f); fixed 1000 ms; ratio %.3f\n",
              kProgrammers, discovery[discovery.size() / 2], discovery.front(), discovery.back(),
              discovery[discovery.size() / 2] / 1000.0);

  // ---- idle links
  const double idleSeconds = quick ? 1.0 : 5.0;
  const double cpu0 = CpuSeconds();
  const auto w0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
  const double wall = MsSince(w0) / 1000.0, cpu = CpuSeconds() - cpu0;
  std::printf("%d connected idle links: %.4f s CPU in %.2f s, %.3f%% of a core\n", kProgrammers, cpu, wall,
              100.0 * cpu / wall);

  const auto perLink = [](size_t after, size_t before) {
    return after > before ? static_cast<double>(after - before) / kProgrammers : 0.0;
  };
  std::printf("memory per link: heap %.0f bytes, resident %.0f bytes (thread stack pages included)\n",
              perLink(heapLinks, heapBefore), perLink(rssLinks, rssBefore));

  // ---- flood of unasked packets on channel 0
  const uint32_t flood = quick ? 1000 : 100000;
  NoPauses noPauses;
  nurva::SetTimeSeam(&noPauses);
  const size_t heapF0 = HeapInUse(), rssF0 = ResidentBytes();
  const char f = 'f';
  if (::write(toChild[1], &f, 1) != 1 || ::write(toChild[1], &flood, sizeof flood) != static_cast<ssize_t>(sizeof flood) ||
      !childSays('d')) {
    std::fprintf(stderr, "flood failed\n");
  }
  HeapSettles(300, 10000);
  const size_t heapF1 = HeapInUse(), rssF1 = ResidentBytes();
  ReleaseTarget(0, &t.res, t.buf);  // a command empties the queue before it sends
  const size_t heapF2 = HeapInUse(), rssF2 = ResidentBytes();
  nurva::SetTimeSeam(nullptr);
  auto mb = [](size_t a, size_t b) { return (static_cast<double>(a) - static_cast<double>(b)) / (1024.0 * 1024.0); };
  std::printf("flood of %u unasked packets: heap +%.2f MiB (%.0f bytes a packet), resident +%.2f MiB; after the "
              "next command (%s): heap %+.2f MiB, resident %+.2f MiB against before the flood\n",
              flood, mb(heapF1, heapF0), (static_cast<double>(heapF1) - static_cast<double>(heapF0)) / flood, mb(rssF1, rssF0), t.buf,
              mb(heapF2, heapF0), mb(rssF2, rssF0));

  nurva::api::ReleaseListForUnload();
  stopChild();
  return 0;
}
