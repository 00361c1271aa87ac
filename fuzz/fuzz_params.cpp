// Reply stream against the project parameters report: GetProjParams.
//
// Input: link state, name length and name, then the reply stream.
#include <string>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const std::vector<uint8_t> raw = in.Bytes(in.Byte() % 80);
  const std::string name(raw.begin(), raw.end());
  h.Seam().Load(in.Rest(), in.RestSize());
  Answer a;
  GetProjParams(0, name.c_str(), a.Res(), a.Text());
  a.Check("GetProjParams");
  return 0;
}
