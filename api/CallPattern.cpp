#include "api/CallPattern.h"

#include <cstring>

namespace nurva::api {

TUSBRdrLst* RdrList = nullptr;
std::shared_mutex ListLock;

void CopyText(const std::string& text, char* buf) {
  if (!buf) return;
  const size_t n = std::strlen(text.c_str());  // up to the first NUL byte
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

bool CheckChannel(int32_t Channel, int32_t& res, std::string& text) {
  if (!RdrList) {
    text = "USB not connected!!";
    res = Ord(TPrgResult::progBusy);
    return false;
  }
  if (Channel < 0 || Channel > RdrList->GetCount() - 1) {
    text = "illegal port number";
    res = Ord(TPrgResult::noProg);
    return false;
  }
  if (RdrList->GetItem(Channel)->busy.load()) {
    text = "Busy";
    res = Ord(TPrgResult::progBusy);
    return false;
  }
  return true;
}

void ReleaseListForUnload() {
  std::unique_lock<std::shared_mutex> lock(ListLock);
  if (!RdrList) return;
  try {
    RdrList->FreeLinks(true);
    delete RdrList;
  } catch (...) {
  }
  RdrList = nullptr;
}

}  // namespace nurva::api
