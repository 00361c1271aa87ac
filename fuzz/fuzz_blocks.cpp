// Reply stream against the block transfers: program, over, file and up-file blocks of the
// three memories. Every block lives in a buffer of exactly the size the call may touch.
//
// Every data byte of a block is a packet of its own, so a call that gets as far as its data
// costs hundreds of writes: an input runs a run of the calls (from its first call, as many
// as it says, going round), and the calls together cover the family.
//
// Input: link state, first call, how many calls (1 to 12), dest, count, then the reply
// stream.
#include <vector>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

namespace {

constexpr int32_t kFixedBlock = 256;

std::vector<uint8_t> Data(int32_t n) {
  std::vector<uint8_t> v(static_cast<size_t>(n > 0 ? n : 1));
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 13 + 1);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t first = in.Byte();
  const size_t calls = 1 + in.Byte() % 12;
  const int32_t dest = in.Long();
  const uint16_t count = in.Word();
  const int32_t prog = 1 + count % 256;  // an EEprom program block: 1 to 256
  const int32_t over = 1 + count % 32;   // an over block: 1 to 32
  const int32_t file = count % 300;      // file and up-file blocks: any 16-bit count, kept short here
  h.Seam().Load(in.Rest(), in.RestSize());
  RunFamily(first, calls, {
      {"DownProgBlockF", [&](Answer& a) { DownProgBlockF(0, Data(kFixedBlock).data(), dest, a.Res(), a.Text()); }},
      {"DownProgBlockE", [&](Answer& a) { DownProgBlockE(0, Data(prog).data(), dest, prog, a.Res(), a.Text()); }},
      {"DownProgBlockU", [&](Answer& a) { DownProgBlockU(0, Data(kFixedBlock).data(), dest, a.Res(), a.Text()); }},
      {"DownOverBlockF", [&](Answer& a) { DownOverBlockF(0, Data(over).data(), dest, over, a.Res(), a.Text()); }},
      {"DownOverBlockE", [&](Answer& a) { DownOverBlockE(0, Data(over).data(), dest, over, a.Res(), a.Text()); }},
      {"DownOverBlockU", [&](Answer& a) { DownOverBlockU(0, Data(over).data(), dest, over, a.Res(), a.Text()); }},
      {"DownFileBlockF", [&](Answer& a) { DownFileBlockF(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
      {"DownFileBlockE", [&](Answer& a) { DownFileBlockE(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
      {"DownFileBlockU", [&](Answer& a) { DownFileBlockU(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
      {"UpFileBlockF", [&](Answer& a) { UpFileBlockF(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
      {"UpFileBlockE", [&](Answer& a) { UpFileBlockE(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
      {"UpFileBlockU", [&](Answer& a) { UpFileBlockU(0, Data(file).data(), dest, file, a.Res(), a.Text()); }},
  });
  return 0;
}
