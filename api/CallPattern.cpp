#include "api/CallPattern.h"

#include <chrono>
#include <cstring>

namespace nurva::api {

TUSBRdrLst* RdrList = nullptr;
std::shared_timed_mutex ListLock;

namespace {

// The calling thread's hold on ListLock: the outermost lock object of the thread took it,
// the ones nested inside (calls from a message pass) took nothing.
thread_local ListHold tHold = ListHold::None;

// How long unload waits for the lock: a host that unloads while another of its threads is
// still inside a call must not hang in the loader for good.
constexpr auto kUnloadLockWait = std::chrono::milliseconds(2000);

}  // namespace

ListHold ThisThreadHolds() { return tHold; }

SharedListLock::SharedListLock() {
  if (tHold != ListHold::None) return;
  ListLock.lock_shared();
  took_ = true;
  tHold = ListHold::Shared;
}

SharedListLock::~SharedListLock() {
  if (!took_) return;
  tHold = ListHold::None;
  ListLock.unlock_shared();
}

TUSBRdrLst* SharedListLock::List() const { return tHold == ListHold::Exclusive ? nullptr : RdrList; }

ExclusiveListLock::ExclusiveListLock() {
  if (tHold != ListHold::None) return;
  ListLock.lock();
  took_ = true;
  tHold = ListHold::Exclusive;
}

ExclusiveListLock::~ExclusiveListLock() {
  if (!took_) return;
  tHold = ListHold::None;
  ListLock.unlock();
}

void CopyText(const std::string& text, char* buf) {
  if (!buf) return;
  const size_t n = std::strlen(text.c_str());  // up to the first NUL byte
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

bool CheckChannel(int32_t Channel, int32_t& res, std::string& text) {
  // Inside discovery on this thread the list is still being built: it is not there yet.
  TUSBRdrLst* list = tHold == ListHold::Exclusive ? nullptr : RdrList;
  if (!list) {
    text = "USB not connected!!";
    res = Ord(TPrgResult::progBusy);
    return false;
  }
  if (Channel < 0 || Channel > list->GetCount() - 1) {
    text = "illegal port number";
    res = Ord(TPrgResult::noProg);
    return false;
  }
  if (list->GetItem(Channel)->busy.load()) {
    text = "Busy";
    res = Ord(TPrgResult::progBusy);
    return false;
  }
  return true;
}

void ReleaseListForUnload() {
  if (tHold != ListHold::None) return;  // unloaded from inside a call: its list is in use
  std::unique_lock<std::shared_timed_mutex> lock(ListLock, std::defer_lock);
  if (!lock.try_lock_for(kUnloadLockWait)) return;
  tHold = ListHold::Exclusive;
  if (RdrList) {
    try {
      RdrList->ReleaseForUnload();
      delete RdrList;
    } catch (...) {
    }
    RdrList = nullptr;
  }
  tHold = ListHold::None;
}

}  // namespace nurva::api
