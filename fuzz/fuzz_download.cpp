// Reply stream against the project file download: DownloadFile of a PC file of a few
// sizes around the 128-byte block, and of names it must refuse before it sends a block.
//
// Input: link state, which file, then the reply stream.
#include <string>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr size_t kSizes[] = {0, 1, 127, 128, 129, 300};
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t pick = in.Byte() % 8;
  std::string path;
  if (pick < std::size(kSizes)) {
    path = h.PcFile(kSizes[pick]);
  } else if (pick == 6) {
    path = h.Dir() + "/missing.pac";
  } else {
    path = h.Dir() + "/project.hex";  // not a download extension
  }
  h.Seam().Load(in.Rest(), in.RestSize());
  Answer a;
  DownloadFile(0, path.c_str(), a.Res(), a.Text());
  a.Check("DownloadFile");
  return 0;
}
