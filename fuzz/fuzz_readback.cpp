// Reply stream against the read back of the three memories. The host's memory is a buffer
// of exactly one block (256 bytes, PageCount for EEprom), so a reply longer than the block
// shows up as a write past it.
//
// Input: link state, first call, chip address, page count, then the reply stream.
#include <vector>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t first = in.Byte();
  const int32_t addr = in.Long();
  const int32_t pages = 1 + in.Byte();  // 1 to 256
  h.Seam().Load(in.Rest(), in.RestSize());
  RunFamily(first, {
      {"ReadBackChipF", [&](Answer& a) {
         std::vector<uint8_t> mem(256);
         ReadBackChipF(0, mem.data(), addr, a.Res(), a.Text());
       }},
      {"ReadBackChipE", [&](Answer& a) {
         std::vector<uint8_t> mem(static_cast<size_t>(pages));
         ReadBackChipE(0, mem.data(), addr, pages, a.Res(), a.Text());
       }},
      {"ReadBackChipU", [&](Answer& a) {
         std::vector<uint8_t> mem(256);
         ReadBackChipU(0, mem.data(), addr, a.Res(), a.Text());
       }},
  });
  return 0;
}
