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

namespace {

// Calls whose answer takes long by their own work, so that their duration is no sign of
// silence: the download and the file blocks move many acknowledged pieces, the listing
// waits for the end of its fifteen entries.
bool LongByWork(const std::string& call) {
  static const char* const calls[] = {"DownloadFile", "GetFileNames", "DownFileBlock", "UpFileBlock"};
  for (const char* c : calls)
    if (call.rfind(c, 0) == 0) return true;
  return false;
}

}  // namespace

int ExitForFailure(const Result& r) {
  switch (r.res) {
    case NURVA_RES_noProg:     // no programmer behind the channel
    case NURVA_RES_progBusy:   // channel busy or no list
    case NURVA_RES_MMCnoProg:  // the link has no open device
      return kExitNoAnswer;
    default:
      break;
  }
  return !LongByWork(r.call) && r.ms >= kNoAnswerMs ? kExitNoAnswer : kExitFault;
}

}  // namespace nurva::cli
