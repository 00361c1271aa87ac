// Sixteen programmers driven at once: one host thread per channel runs whole jobs
// (download, open, program with its status polls, read back) while another thread polls
// GetProgStatus on every channel. Each channel must end with its own project's bytes in
// its target, and nothing may cross between channels (under TSan: no data race).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/NURVA_DLL.h"
#include "tests/sim/E2eFixture.h"
#include "tests/stress/StressRig.h"
#include "tools/sim/Sample.h"

using namespace nurva;
using namespace nurva::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = NURVA_MAX_PROGRAMMERS;

bool JobRunning(int32_t res) {
  return res == NURVA_RES_resOk || res == NURVA_RES_progBusy || res == NURVA_RES_eraChip ||
         (res >= NURVA_RES_prgFlash && res <= NURVA_RES_verifyUsrRow);
}

// The sample project with Flash bytes of its own for `channel` and `round`.
sim::Project ChannelProject(int channel, int round) {
  sim::Project p = sim::MakeSampleProject();
  for (size_t i = 16; i < p.flash->data.size(); ++i)
    p.flash->data[i] = static_cast<uint8_t>(i * 13 + static_cast<size_t>(channel) * 31 + static_cast<size_t>(round) * 7);
  return p;
}

class StressJobs : public ::testing::Test {
 protected:
  // A call that a concurrent poll may meet busy: tried again while it answers "Busy".
  template <class Fn, class... A>
  static Answer Retry(Fn fn, int32_t channel, A... args) {
    const auto until = Clock::now() + std::chrono::seconds(20);
    for (;;) {
      Answer a = Call(fn, channel, args...);
      if (a.res != NURVA_RES_progBusy || a.text != "Busy" || Clock::now() > until) return a;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // One whole job on `channel`; the first thing that went wrong, or empty.
  static std::string RunJob(int channel, int round, const std::filesystem::path& pcDir) {
    const std::string ch = "channel " + std::to_string(channel) + " round " + std::to_string(round) + ": ";
    char base[16];
    std::snprintf(base, sizeof base, "J%02dR%d", channel, round);
    const sim::Project project = ChannelProject(channel, round);
    const std::filesystem::path pcFile = pcDir / (std::string(base) + ".pack");
    {
      const std::vector<uint8_t> bytes = project.Serialize();
      std::ofstream(pcFile, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    Answer a = Retry(DownloadFile, channel, pcFile.string().c_str());
    if (a.res != NURVA_RES_resOk) return ch + "download: " + a.text + " " + std::to_string(a.res);
    const std::string cardName = std::string(base) + ".PACK";
    a = Retry(OpenAfile, channel, cardName.c_str());
    if (a.res != NURVA_RES_resOk) return ch + "open: " + a.text + " " + std::to_string(a.res);
    a = Retry(ProgDevice, channel);
    if (a.text != "programming") return ch + "program: " + a.text + " " + std::to_string(a.res);
    const auto until = Clock::now() + std::chrono::seconds(30);
    do {
      a = Call(GetProgStatus, channel);
    } while (JobRunning(a.res) && Clock::now() < until);
    if (a.res != NURVA_RES_progDone) return ch + "job ended with " + a.text + " " + std::to_string(a.res);
    std::vector<uint8_t> back(256, 0);
    a = Retry(ReadBackChipF, channel, back.data(), int32_t{0});
    if (a.res != NURVA_RES_resOk) return ch + "read back: " + a.text + " " + std::to_string(a.res);
    if (!std::equal(back.begin(), back.end(), project.flash->data.begin())) return ch + "read back another project's bytes";
    return {};
  }
};

TEST_F(StressJobs, SixteenChannelsRunJobsWhileAPollerWatchesThemAll) {
  const int rounds = EnvCount("NURVA_STRESS_ROUNDS", 2);
  ProgrammerRack rack(kChannels);
  for (int i = 0; i < kChannels; ++i) {
    std::string err;
    ASSERT_TRUE(rack.Plug(i, &err)) << err;
  }
  AbortAll();
  int32_t count = 0;
  std::string ids(kAnswerRoom, '\0');
  GetProgIDs(&count, ids.data());
  ASSERT_EQ(count, kChannels) << ids.c_str();

  std::atomic<int> running{kChannels};
  std::atomic<long> polls{0}, pollFaults{0};
  std::mutex m;
  std::vector<std::string> faults;
  std::thread poller([&] {
    while (running.load() > 0) {
      for (int c = 0; c < kChannels; ++c) {
        Answer a = Call(GetProgStatus, c);
        ++polls;
        // Every poll decides: a code of the table and a text, never the untouched buffer.
        if (a.res < NURVA_RES_resNone || a.res > NURVA_RES_MMCprogBusy || a.text.find('#') != std::string::npos)
          ++pollFaults;
      }
    }
  });
  std::vector<std::thread> hosts;
  for (int c = 0; c < kChannels; ++c) {
    hosts.emplace_back([&, c] {
      for (int r = 0; r < rounds; ++r) {
        std::string f = RunJob(c, r, rack.Scratch());
        if (!f.empty()) {
          std::lock_guard<std::mutex> g(m);
          faults.push_back(f);
          break;
        }
      }
      --running;
    });
  }
  for (auto& t : hosts) t.join();
  poller.join();

  EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
  EXPECT_EQ(pollFaults.load(), 0);
  EXPECT_GT(polls.load(), kChannels);
  // Every programmer ran exactly its own jobs.
  for (int c = 0; c < kChannels; ++c) {
    int done = rack.At(c).Fw().With([](sim::State& st) { return st.count.devicesProgrammed; });
    EXPECT_EQ(done, rounds) << "programmer " << c;
  }
}

}  // namespace
