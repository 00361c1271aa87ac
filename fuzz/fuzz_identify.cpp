// Reply stream against discovery: AbortAll with the input as the programmer's answers to
// the identify command (and its retries), then the list it leaves.
#include <cstring>
#include <string>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = Harness::Get();
  const uint8_t found = h.Discover(data, size);
  Require(found <= 1, "AbortAll", "an answer other than 0 or 1");
  int32_t count = -1;
  Answer a;
  GetProgIDs(&count, a.Text());
  a.Check("GetProgIDs", false);
  // One programmer on the bus: at most one serial number, of eight hex digits.
  Require(count == 0 || count == 1, "GetProgIDs", "a count other than the one programmer");
  const size_t len = std::strlen(a.Text());
  Require(count == 1 ? len == 8 : len == 0, "GetProgIDs", "the list does not match its count");
  Answer c;
  CheckProgrammer(0, c.Res(), c.Text());
  c.Check("CheckProgrammer", false);
  return 0;
}
