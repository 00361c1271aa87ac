// Reply stream against the programmer check and target control: CheckProgrammer,
// InitChannel, ReleaseTarget, CheckDevice, GetTargVolt, GetFuses.
//
// Input: link state, first call, fuse selector, then the reply stream (FuzzHarness.h).
#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t first = in.Byte();
  const int32_t selfuse = in.Byte();
  h.Seam().Load(in.Rest(), in.RestSize());
  int32_t volt = -7, fuse = -7;
  RunFamily(first, {
      {"CheckProgrammer", [](Answer& a) { CheckProgrammer(0, a.Res(), a.Text()); }},
      {"InitChannel", [](Answer& a) { InitChannel(0, a.Res(), a.Text()); }},
      {"ReleaseTarget", [](Answer& a) { ReleaseTarget(0, a.Res(), a.Text()); }},
      {"CheckDevice", [](Answer& a) { CheckDevice(0, a.Res(), a.Text()); }},
      {"GetTargVolt", [&](Answer& a) {
         GetTargVolt(0, &volt, a.Res(), a.Text());
         Require(volt >= 0 && volt <= 0xFFFF, "GetTargVolt", "a voltage outside the 16-bit reply");
       }},
      {"GetFuses", [&](Answer& a) {
         GetFuses(0, selfuse, &fuse, a.Res(), a.Text());
         Require(fuse >= 0 && fuse <= 0xFF, "GetFuses", "a fuse outside one byte");
       }},
  });
  return 0;
}
