// Link latency on the virtual bus with a programmer that answers at once.
//
//   reply latency  from the programmer sending its reply to the export returning with it
//   round trip     one whole command: the export's call from start to return
//
// The receive thread rests 3 ms after each packet it queues. Commands that follow each
// other at once meet that pause; "spaced" commands start after it, so they show the
// link's own cost.
//
// Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "api/NURVA_DLL.h"
#include "tests/support/ScriptedPeer.h"

using namespace nurva::test;
using Clock = std::chrono::steady_clock;

namespace {

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Report(const char* what, std::vector<double> v) {
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))]; };
  std::printf("%-16s n=%zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, v.size(), at(0.5), at(0.99), v.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
  TestBus bus;
  ScriptedPeer peer(bus, "dev0");
  peer.Identify(ProgrammerRec("NURVA Prog", 0xBE7C4));
  peer.On({0x02, 'r'}).Always().Send({Pkt({0x06})});
  AbortAll();
  int32_t count = 0;
  char text[NURVA_TEXT_BUFFER_SIZE];
  GetProgIDs(&count, text);
  if (count != 1) {
    std::fprintf(stderr, "no programmer found\n");
    return 1;
  }

  auto run = [&](const char* title, std::chrono::microseconds gap) -> bool {
  std::vector<double> latency, roundTrip;
  latency.reserve(static_cast<size_t>(n));
  roundTrip.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    std::this_thread::sleep_for(gap);
    peer.ClearLog();
    int32_t res = 0;
    auto t0 = Clock::now();
    ReleaseTarget(0, &res, text);  // command 'r', one reply character
    auto t1 = Clock::now();
    if (res != 1) {
      std::fprintf(stderr, "round %d: %d %s\n", i, res, text);
      return false;
    }
    for (const auto& e : peer.Log())
      if (e.kind == Event::Kind::In) latency.push_back(Us(t1 - e.time));
    roundTrip.push_back(Us(t1 - t0));
  }
  std::printf("%s\n", title);
  Report("  reply latency", latency);
  Report("  round trip", roundTrip);
  return true;
  };
  std::printf("virtual bus, zero-delay programmer, %d commands per run\n", n);
  if (!run("spaced 4 ms (after the receive thread's pause)", std::chrono::microseconds(4000))) return 1;
  if (!run("back to back (meets the pause)", std::chrono::microseconds(0))) return 1;
  return 0;
}
