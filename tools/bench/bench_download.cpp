// Project download speed against the virtual programmer: files of a few sizes through
// DownloadFile, each downloaded several times (deleted from the card in between).
//
//   bench_download [repeats]
//
// The figure is the file's bytes over the whole call (programmer check, time stamp,
// name, blocks, the final reply and its 100 ms pause). A file whose size is a multiple
// of 128 bytes also holds the virtual programmer's 1 s wait for a further block.
//
// Prints figures; asserts nothing.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "api/NURVA_DLL.h"
#include "tools/sim/Sample.h"
#include "tools/sim/VirtualProgrammer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char tmpl[] = "/tmp/nurva-bench-dl-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  const fs::path root = tmpl, bus = root / "bus", card = root / "card";
  fs::create_directories(bus);
  ::setenv("NURVA_VUSB_DIR", bus.c_str(), 1);

  nurva::sim::ProgrammerConfig cfg;
  cfg.cardDir = card;
  nurva::sim::VirtualProgrammer prog(bus.string(), cfg);
  std::string err;
  if (!prog.Start(&err)) {
    std::fprintf(stderr, "cannot start the virtual programmer: %s\n", err.c_str());
    return 1;
  }
  AbortAll();
  int32_t count = 0;
  char text[NURVA_TEXT_BUFFER_SIZE];
  GetProgIDs(&count, text);
  if (count != 1) {
    std::fprintf(stderr, "no programmer found\n");
    return 1;
  }

  for (size_t size : {size_t{4096 - 36}, size_t{65536 - 36}, size_t{65536}, size_t{262144 - 36}}) {
    const fs::path file = root / "bench.pack";
    std::vector<char> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + 3);
    std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
    std::vector<double> secs;
    for (int r = 0; r < repeats; ++r) {
      int32_t res = -1;
      DeleteAfile(0, "bench.PACK", &res, text);
      const auto t0 = Clock::now();
      DownloadFile(0, file.c_str(), &res, text);
      secs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
      if (res != NURVA_RES_resOk) {
        std::fprintf(stderr, "download of %zu bytes: %s (%d)\n", size, text, res);
        return 1;
      }
    }
    std::sort(secs.begin(), secs.end());
    const double median = secs[secs.size() / 2];
    std::printf("%7zu bytes  %4zu blocks  median %.3f s  %8.0f bytes/s  (%d runs)\n", size,
                size == 0 ? size_t{1} : (size + 127) / 128, median, static_cast<double>(size) / median, repeats);
  }
  prog.Stop();
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
