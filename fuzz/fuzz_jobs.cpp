// Reply stream against erase, program and verify and the job's status stream: the twelve
// job commands, each followed by a few GetProgStatus polls.
//
// Input: link state, first call, polls after each call, then the reply stream.
#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

namespace {

void Poll(int times) {
  for (int i = 0; i < times; ++i) {
    Answer a;
    GetProgStatus(0, a.Res(), a.Text());
    a.Check("GetProgStatus");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  const uint8_t first = in.Byte();
  const int polls = in.Byte() % 8;
  h.Seam().Load(in.Rest(), in.RestSize());
  Poll(polls);  // statuses of a job that was running before
  RunFamily(
      first,
      {
          {"EraseDevice", [](Answer& a) { EraseDevice(0, a.Res(), a.Text()); }},
          {"EraseDeviceX", [](Answer& a) { EraseDeviceX(0, a.Res(), a.Text()); }},
          {"EraseDeviceUsr", [](Answer& a) { EraseDeviceUsr(0, a.Res(), a.Text()); }},
          {"ProgDevice", [](Answer& a) { ProgDevice(0, a.Res(), a.Text()); }},
          {"ProgFlash", [](Answer& a) { ProgFlash(0, a.Res(), a.Text()); }},
          {"ProgEEprom", [](Answer& a) { ProgEEprom(0, a.Res(), a.Text()); }},
          {"ProgUsrRow", [](Answer& a) { ProgUsrRow(0, a.Res(), a.Text()); }},
          {"ProgFuses", [](Answer& a) { ProgFuses(0, a.Res(), a.Text()); }},
          {"ProgLockBits", [](Answer& a) { ProgLockBits(0, a.Res(), a.Text()); }},
          {"VerifyDevice", [](Answer& a) { VerifyDevice(0, a.Res(), a.Text()); }},
          {"VerifyFlashOnly", [](Answer& a) { VerifyFlashOnly(0, a.Res(), a.Text()); }},
          {"VerifyEEpromOnly", [](Answer& a) { VerifyEEpromOnly(0, a.Res(), a.Text()); }},
      },
      [polls] { Poll(polls); });
  return 0;
}
