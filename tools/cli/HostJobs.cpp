// Calls of erase, program and verify, and of the progress status.
#include <string>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Host.h"

namespace nurva::cli {

namespace {

Result Run(const char* name, void (*fn)(int32_t, int32_t*, char*), int channel) {
  Result r{name, -1, {}};
  std::string text(NURVA_TEXT_BUFFER_SIZE, '\0');
  CallLog log(r, "channel=" + std::to_string(channel));
  fn(channel, &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

}  // namespace

Result CallEraseDevice(int channel) { return Run("EraseDevice", EraseDevice, channel); }
Result CallEraseDeviceX(int channel) { return Run("EraseDeviceX", EraseDeviceX, channel); }
Result CallEraseDeviceUsr(int channel) { return Run("EraseDeviceUsr", EraseDeviceUsr, channel); }
Result CallProgDevice(int channel) { return Run("ProgDevice", ProgDevice, channel); }
Result CallProgFlash(int channel) { return Run("ProgFlash", ProgFlash, channel); }
Result CallProgEEprom(int channel) { return Run("ProgEEprom", ProgEEprom, channel); }
Result CallProgUsrRow(int channel) { return Run("ProgUsrRow", ProgUsrRow, channel); }
Result CallProgFuses(int channel) { return Run("ProgFuses", ProgFuses, channel); }
Result CallProgLockBits(int channel) { return Run("ProgLockBits", ProgLockBits, channel); }
Result CallVerifyDevice(int channel) { return Run("VerifyDevice", VerifyDevice, channel); }
Result CallVerifyFlashOnly(int channel) { return Run("VerifyFlashOnly", VerifyFlashOnly, channel); }
Result CallVerifyEEpromOnly(int channel) { return Run("VerifyEEpromOnly", VerifyEEpromOnly, channel); }
Result CallGetProgStatus(int channel) { return Run("GetProgStatus", GetProgStatus, channel); }

std::string OpenProjectName(int channel) {
  Result r = Run("GetFileState", GetFileState, channel);
  return r.res == NURVA_RES_resOk ? r.text : std::string();
}

}  // namespace nurva::cli
