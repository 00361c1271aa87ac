// Reply stream against the project files on the card: GetFileNames, CheckAfile, OpenAfile,
// CloseAfile, DeleteAfile, GetFileState.
//
// Input: link state, first call, name length and name, then the reply stream.
#include <string>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t first = in.Byte();
  const std::vector<uint8_t> raw = in.Bytes(in.Byte() % 80);
  const std::string name(raw.begin(), raw.end());
  h.Seam().Load(in.Rest(), in.RestSize());
  const char* n = name.c_str();
  RunFamily(first, {
      {"GetFileNames", [](Answer& a) { GetFileNames(0, a.Res(), a.Text()); }},
      {"CheckAfile", [n](Answer& a) { CheckAfile(0, n, a.Res(), a.Text()); }},
      {"OpenAfile", [n](Answer& a) { OpenAfile(0, n, a.Res(), a.Text()); }},
      {"CloseAfile", [](Answer& a) { CloseAfile(0, a.Res(), a.Text()); }},
      {"DeleteAfile", [n](Answer& a) { DeleteAfile(0, n, a.Res(), a.Text()); }},
      {"GetFileState", [](Answer& a) { GetFileState(0, a.Res(), a.Text()); }},
  });
  return 0;
}
