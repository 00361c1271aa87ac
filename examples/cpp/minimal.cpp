// nurva_minimal: find the programmers and ask each about itself and its target's supply.
#include <cstdio>
#include <string>

#include "NURVA_DLL.h"

int main() {
  AbortAll();  // discovery: about a second
  int32_t count = 0;
  std::string ids(NURVA_TEXT_BUFFER_SIZE, '\0');
  GetProgIDs(&count, ids.data());
  std::printf("%d programmer(s)\n", static_cast<int>(count));

  int failed = 0;
  for (int32_t channel = 0; channel < count; ++channel) {
    std::string text(NURVA_TEXT_BUFFER_SIZE, '\0');
    int32_t res = -1;  // a call that reaches no decision leaves res as it was
    CheckProgrammer(channel, &res, text.data());
    std::printf("channel %d: %d %s\n", static_cast<int>(channel), static_cast<int>(res), text.c_str());
    if (res != NURVA_RES_MMCok) {
      ++failed;
      continue;
    }
    int32_t volt = 0;
    res = -1;
    GetTargVolt(channel, &volt, &res, text.data());
    std::printf("  target supply %s V (%d)\n", text.c_str(), static_cast<int>(res));
    if (res != NURVA_RES_resOk) ++failed;
  }
  return count > 0 && failed == 0 ? 0 : 1;
}
