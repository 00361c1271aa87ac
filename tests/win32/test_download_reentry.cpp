// The project download's message pass after every 32nd block, with a host handler that
// calls the exports: other channels run, the downloading channel is busy, and nothing
// waits on the list lock its own thread holds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/api/files_fixture.h"
#include "tests/win32/HostLoop.h"

using namespace nurva;
using namespace nurva::test;
using namespace std::chrono_literals;

namespace {

class DownloadPass : public ApiTest {};

constexpr size_t kBlocks = 65;  // message passes after blocks 32 and 64

}  // namespace

TEST_F(DownloadPass, HandlersCallTheExportsDuringTheDownload) {
  Discover(2);
  Bytes data(kBlocks * 128 - 100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 5 + i / 128);
  const auto file = std::filesystem::temp_directory_path() / "nurva-pass.pack";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                              static_cast<std::streamsize>(data.size()));
  ScriptedPeer& p0 = *peers[0];
  p0.On({0x02, 'G'}).Send({Pkt({0})});
  p0.On({0x02, 'D'}).Send({Pkt({kACK})});
  p0.On(NamePackets("nurva-pa.PACK")[1]).Send({Pkt({kACK}), Pkt({kACK})});
  for (size_t pos = 0; pos < data.size(); pos += 128) {
    Bytes block(data.begin() + static_cast<std::ptrdiff_t>(pos),
                data.begin() + static_cast<std::ptrdiff_t>(std::min(pos + 128, data.size())));
    std::vector<Pkt> r{Pkt({kACK})};
    if (pos + 128 >= data.size()) r.push_back(Pkt({kACK}));
    p0.On(block).Send(r);
  }
  peers[1]->On({'s'}).Always().Send({Pkt({kNAK})});

  host::HostWindow w;
  struct Pass {
    int outPackets;
    Answer same, status, other;
  };
  std::vector<Pass> passes;
  w.onApp = [&](UINT) {
    Pass p;
    // The download waits in this pass: what it has sent so far reaches the peer, then no more.
    p.outPackets = p0.OutCount();
    for (auto still = Clock::now(); Clock::now() - still < 150ms;) {
      std::this_thread::sleep_for(10ms);
      if (const int n = p0.OutCount(); n != p.outPackets) {
        p.outPackets = n;
        still = Clock::now();
      }
    }
    p.same = Call(GetFileState, 0);
    p.status = Call(GetProgStatus, 0);
    p.other = Call(GetFileState, 1);
    passes.push_back(p);
  };
  // One message waits for the first pass; another is posted between the two passes (a
  // message posted from the handler itself would be taken by the same pass).
  w.Post(WM_APP);
  std::atomic<bool> done{false};
  std::thread poster([&] {
    while (!done.load() && p0.OutCount() < 7 + 33 * 3) std::this_thread::sleep_for(1ms);
    w.Post(WM_APP);
  });

  Answer a{99, {}};
  {
    host::Watchdog dog(30s, "a download whose message pass calls the exports");
    const std::string path = file.string();
    a = Call([&](int32_t ch, int32_t* r, char* t) { DownloadFile(ch, path.c_str(), r, t); }, 0);
  }
  done.store(true);
  poster.join();
  std::error_code ec;
  std::filesystem::remove(file, ec);
  EXPECT_EQ(a.res, 1);
  EXPECT_EQ(a.text, "ok");

  ASSERT_EQ(passes.size(), 2u) << "one pass after block 32, one after block 64";
  // The opening is 7 packets and a block 3; the pass comes after the block's data, before
  // its checksum.
  const int expected[] = {7 + 31 * 3 + 2, 7 + 63 * 3 + 2};
  for (size_t i = 0; i < passes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(passes[i].outPackets, expected[i]);
    EXPECT_EQ(passes[i].same.res, 5);
    EXPECT_EQ(passes[i].same.text, "Busy");
    EXPECT_EQ(passes[i].status.res, 5);
    EXPECT_EQ(passes[i].status.text, "Busy");
    EXPECT_EQ(passes[i].other.res, 34);
    EXPECT_EQ(passes[i].other.text, "file closed");
  }
  EXPECT_FALSE(Link(0).busy.load());
  EXPECT_EQ(peers[0]->OutCount(), static_cast<int>(7 + kBlocks * 3));
}
