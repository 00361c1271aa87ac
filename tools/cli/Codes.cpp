#include "tools/cli/Codes.h"

#include "api/NURVA_DLL.h"

namespace nurva::cli {

std::string CodeName(int32_t res) {
  static const char* const names[] = {
      "resNone",      "resOk",          "progDone",      "noProg",         "progFound",      "progBusy",
      "progDefect",   "progIdle",       "progComErr",    "progTimeOutErr", "PwrDownErr",     "PwrSupplyErr",
      "SignatureErr", "invPassword",    "limitExc",      "eraChip",        "eraFlash",       "eraEEp",
      "eraUsrRow",    "ProtectedErr",   "NotEmptyErr",   "prgFlash",       "prgEEp",         "prgUsrRow",
      "verifyFlash",  "verifyEEp",      "verifyUsrRow",  "VerifyErr",      "dwnLoading",     "ParmErr",
      "dwnLoadErrF",  "dwnLoadErrE",    "dwnLoadErrU",   "invFile",        "invFName",       "FileExist",
      "FileNotFound", "FileErr",        "FileDwnErr",    "MMCok",          "MMCprotected",   "MMCnoMedia",
      "MMCmissing",   "MMCinitFailed",  "MMCresetFailed", "MMCcheckFailed", "MMCnoProg",     "MMCprogBusy",
  };
  static_assert(sizeof names / sizeof names[0] == NURVA_RES_MMCprogBusy + 1);
  if (res >= 0 && res <= NURVA_RES_MMCprogBusy) return names[res];
  return "code " + std::to_string(res);
}

int ExitForFailure(int32_t res) {
  switch (res) {
    case NURVA_RES_noProg:          // no programmer behind the channel
    case NURVA_RES_progBusy:        // channel busy or no list
    case NURVA_RES_progComErr:
    case NURVA_RES_progTimeOutErr:  // no answer in time
    case NURVA_RES_MMCnoProg:
      return kExitNoAnswer;
    default:
      return kExitFault;
  }
}

}  // namespace nurva::cli
