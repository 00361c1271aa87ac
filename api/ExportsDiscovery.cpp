// Exports of discovery and the channel list: AbortAll, GetProgIDs, ClosePort. Called from
// a message pass on the thread of another call, they follow the re-entry rule of
// CallPattern.h: a nested AbortAll returns 0 at once, and inside discovery GetProgIDs and
// ClosePort see no list.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

extern "C" {

NURVA_API uint8_t NURVA_CALL AbortAll(void) {
  try {
    ExclusiveListLock lock;
    if (!lock.Acquired()) return 0;  // an outer call on this thread is using the list
    if (RdrList) {
      RdrList->FreeLinks();
      delete RdrList;
      RdrList = nullptr;
    }
    RdrList = new TUSBRdrLst();
    return RdrList->AbortAll() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

NURVA_API void NURVA_CALL GetProgIDs(int32_t* count, char* text) {
  int32_t n = 0;
  std::string t;
  try {
    SharedListLock lock;
    if (TUSBRdrLst* list = lock.List()) {
      for (int32_t i = 0; i < list->GetCount(); ++i) {
        TUSBreader* link = list->CheckRdr(i);
        if (!link) continue;
        std::string sn = link->GetSerNum();
        if (sn.empty()) continue;
        t += sn;
        t += "\r\n";
        ++n;
      }
    }
    // Blanks and control characters at both ends go, which drops the final CR LF.
    size_t b = 0, e = t.size();
    while (b < e && static_cast<unsigned char>(t[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(t[e - 1]) <= 0x20) --e;
    t = t.substr(b, e - b);
  } catch (...) {
    n = 0;
    t.clear();
  }
  if (count) *count = n;
  try {
    CopyText(t, text);
  } catch (...) {
  }
}

NURVA_API void NURVA_CALL ClosePort(int32_t channel, int32_t* res, char* text) {
  int32_t r = 0;
  std::string t;
  try {
    SharedListLock lock;
    TUSBRdrLst* list = lock.List();
    const int32_t count = list ? list->GetCount() : 0;
    if (channel < 0 || channel > count - 1) {
      r = Ord(TPrgResult::noProg);
      t = "illegal port number";
    } else {
      r = Ord(TPrgResult::resNone);
      t = "port closed";
    }
  } catch (...) {
    r = Ord(kInternalErrorRes);
    t = kInternalErrorText;
  }
  if (res) *res = r;
  try {
    CopyText(t, text);
  } catch (...) {
  }
}

}  // extern "C"
