// Discovery, use and tear-down again and again while programmers come and go: every
// cycle finds exactly the programmers plugged in, each channel answers for its own
// programmer, and nothing of an old list stays behind (threads, descriptors; the leak
// checker sees the memory at exit).
//
// The fixed pauses (discovery's first second, the settle times) are skipped through the
// time seam, so a cycle costs only its exchanges. The count is the build's
// (NURVA_STRESS_CYCLES_DEFAULT), or NURVA_STRESS_CYCLES from the environment, shared out
// among four shards: each is a test process of its own with its own bus and its own order
// of plugging, so the shards run side by side (a cycle mostly waits for threads to run).
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/stress/StressRig.h"
#include "transport/MsgQueue.h"
#include "transport/TimeSeam.h"

using namespace nurva;
using namespace nurva::test;

namespace {

// Fixed pauses take no time; a reply is still awaited for real.
class NoFixedPauses : public TTimeSeam {
 public:
  void Pause(uint32_t) override {}
  bool AwaitPacket(TMsgQueue& queue, uint32_t ms) override { return queue.Event().WaitFor(ms); }
};

int Entries(const char* dir) {
  DIR* d = ::opendir(dir);
  if (!d) return -1;
  int n = 0;
  while (::readdir(d)) ++n;
  ::closedir(d);
  return n;
}
int Threads() { return Entries("/proc/self/task"); }
int Descriptors() { return Entries("/proc/self/fd"); }

uint16_t SlotVoltage(int slot) { return static_cast<uint16_t>(300 + slot); }

constexpr int kShards = 4;

class AbortAllCycles : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { SetTimeSeam(&seam_); }
  void TearDown() override {
    api::ReleaseListForUnload();
    SetTimeSeam(nullptr);
  }

  // Plugs the slot with a voltage of its own, so each channel's answer names its programmer.
  void Plug(int slot) {
    std::string err;
    ASSERT_TRUE(rack_.Plug(slot, &err)) << err;
    rack_.At(slot).Fw().With([slot](sim::State& st) { st.target.voltage = SlotVoltage(slot); });
  }

  NoFixedPauses seam_;
  ProgrammerRack rack_{4};
};

TEST_P(AbortAllCycles, ProgrammersComeAndGoBetweenDiscoveries) {
  const int cycles = (EnvCount("NURVA_STRESS_CYCLES", NURVA_STRESS_CYCLES_DEFAULT) + kShards - 1) / kShards;
  // The baseline after one discovery and tear-down: a sanitizer's runtime may start a
  // thread of its own with the first thread the library starts.
  AbortAll();
  api::ReleaseListForUnload();
  const int threads0 = Threads(), fds0 = Descriptors();
  uint32_t rng = 12345u + static_cast<uint32_t>(GetParam());
  auto next = [&rng] {
    rng = rng * 1103515245u + 12345u;
    return (rng >> 16) & 0x7FFF;
  };

  for (int cycle = 0; cycle < cycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    // One slot changes between two discoveries; now and then all go at once.
    if (cycle % 97 == 96) {
      for (int s = 0; s < rack_.Slots(); ++s) rack_.Unplug(s);
    } else {
      const int s = static_cast<int>(next() % static_cast<uint32_t>(rack_.Slots()));
      if (rack_.Plugged(s)) {
        rack_.Unplug(s);
      } else {
        ASSERT_NO_FATAL_FAILURE(Plug(s));
      }
    }
    std::vector<int> present;
    std::string ids;
    for (int s = 0; s < rack_.Slots(); ++s) {
      if (!rack_.Plugged(s)) continue;
      present.push_back(s);
      ids += (ids.empty() ? "" : "\r\n") + SerialText(SlotSerial(s));
    }

    AbortAll();
    int32_t count = -1;
    std::string text(kAnswerRoom, '#');
    GetProgIDs(&count, text.data());
    ASSERT_EQ(count, static_cast<int32_t>(present.size()));
    ASSERT_EQ(std::string(text.c_str()), ids);

    for (size_t ch = 0; ch < present.size(); ++ch) {
      const int32_t c = static_cast<int32_t>(ch);
      int32_t volt = -1;
      Answer a = Call(GetTargVolt, c, &volt);
      ASSERT_EQ(a.res, NURVA_RES_resOk) << a.text;
      ASSERT_EQ(volt, SlotVoltage(present[ch])) << "channel " << c;
      if (cycle % 10 == 0) {
        std::vector<uint8_t> back(256, 0);
        a = Call(ReadBackChipF, c, back.data(), int32_t{0});
        ASSERT_EQ(a.res, NURVA_RES_resOk) << a.text;
      }
    }
    EXPECT_EQ(Call(ClosePort, static_cast<int32_t>(present.size())).text, "illegal port number");

    // Now and then a programmer goes while its link is connected; the next discovery
    // tears that link down.
    if (cycle % 8 == 5 && !present.empty()) rack_.Unplug(present[next() % present.size()]);
  }

  for (int s = 0; s < rack_.Slots(); ++s) rack_.Unplug(s);
  AbortAll();
  int32_t count = -1;
  std::string text(kAnswerRoom, '#');
  GetProgIDs(&count, text.data());
  EXPECT_EQ(count, 0);
  api::ReleaseListForUnload();
  // Every receive thread and every connection of every list is gone.
  int threads = Threads(), fds = Descriptors();
  for (int i = 0; i < 100 && (threads != threads0 || fds != fds0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    threads = Threads();
    fds = Descriptors();
  }
  EXPECT_EQ(threads, threads0);
  EXPECT_EQ(fds, fds0);
}

INSTANTIATE_TEST_SUITE_P(Shard, AbortAllCycles, ::testing::Range(0, kShards));

}  // namespace
