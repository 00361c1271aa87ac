// What every export has in common: the one list of programmer links, the channel check,
// the busy mark, and the copy of the result text into the host's buffer.
//
// Re-entry. A long call dispatches its thread's window messages (discovery once per device
// number, a long command from its own loop; see usbio::DispatchPendingWindowMessages), and
// a host handler run by that pass may call exports on the same thread. Such a call never
// waits for the list lock, which its own thread already holds:
//   - inside discovery (the thread holds the lock alone and the list is being built) the
//     list counts as absent: channel calls answer "USB not connected!!" with 5,
//     GetProgIDs lists nothing, ClosePort answers "illegal port number" with 3;
//   - inside a channel call (the thread holds the lock shared) calls run as usual on the
//     list: another channel runs its command, the channel of the outer call answers "Busy"
//     with 5 (its busy mark is set);
//   - a nested AbortAll returns 0 at once and leaves the list as it is.
// ChannelCall, CheckChannel and SharedListLock apply these rules; an export built on them
// gets them without code of its own.
#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>

#include "transport/RdrList.h"

namespace nurva::api {

// The list of links; none until the first AbortAll.
extern TUSBRdrLst* RdrList;
// Exports hold it shared while they use the list; AbortAll and unload hold it alone, so
// no export ever touches a link that is being freed. Take it only through SharedListLock
// and ExclusiveListLock, which know whether the calling thread holds it already.
extern std::shared_timed_mutex ListLock;

// How the calling thread holds the list lock.
enum class ListHold { None, Shared, Exclusive };
ListHold ThisThreadHolds();

// Holds the list lock shared for its scope, unless the calling thread already holds it
// (a call made from a message pass inside another call): then it takes nothing, so no call
// ever waits for a lock of its own thread, or queues behind another thread's AbortAll
// while its own thread holds the lock.
//
//   SharedListLock lock;
//   if (TUSBRdrLst* list = lock.List()) ...   // the list, or none (see List)
class SharedListLock {
 public:
  SharedListLock();
  ~SharedListLock();
  SharedListLock(const SharedListLock&) = delete;
  SharedListLock& operator=(const SharedListLock&) = delete;

  // The list the call may use: none while there is no list, and none inside discovery on
  // this thread (the list is still being filled; it counts as absent there).
  TUSBRdrLst* List() const;

 private:
  bool took_ = false;
};

// Holds the list lock alone for its scope (AbortAll). `Acquired()` is false when the
// calling thread holds the lock already in any way: then the caller must leave the list
// alone, since an outer call on this thread is using it.
class ExclusiveListLock {
 public:
  ExclusiveListLock();
  ~ExclusiveListLock();
  ExclusiveListLock(const ExclusiveListLock&) = delete;
  ExclusiveListLock& operator=(const ExclusiveListLock&) = delete;
  bool Acquired() const { return took_; }

 private:
  bool took_ = false;
};

// Result code and text of a failure that no command foresaw.
inline constexpr const char* kInternalErrorText = "internal error";
inline constexpr TPrgResult kInternalErrorRes = TPrgResult::progComErr;

// Copies `text` up to its first NUL byte, then one NUL byte; nothing when `buf` is null.
void CopyText(const std::string& text, char* buf);

// True when the call may go on; otherwise `res` and `text` say why. Call it under a
// SharedListLock; inside discovery on this thread it answers as without a list.
bool CheckChannel(int32_t Channel, int32_t& res, std::string& text);

// The call pattern of a channel export: channel check, argument check (`argsOk`), busy
// mark (taken in one atomic step), the command, then the text copy. `command` gets the
// list and the code to write, and returns the result text. A null `res` or `text` from
// the host is skipped. Calls from a message pass on the same thread follow the re-entry
// rule above.
template <class Command>
void ChannelCall(int32_t Channel, int32_t* res, char* text, bool argsOk, Command&& command) {
  int32_t local = res ? *res : 0;
  std::string t;
  try {
    SharedListLock lock;
    if (CheckChannel(Channel, local, t)) {
      TUSBRdrLst& list = *lock.List();
      TUSBreader& link = *list.GetItem(Channel);
      if (!argsOk) {
        t = "parameter error";
        local = Ord(TPrgResult::ParmErr);
      } else if (link.busy.exchange(true)) {
        t = "Busy";  // another call took the channel between the check and here
        local = Ord(TPrgResult::progBusy);
      } else {
        try {
          t = command(list, local);
        } catch (...) {
          t = kInternalErrorText;
          local = Ord(kInternalErrorRes);
        }
        link.busy.store(false);
      }
    }
  } catch (...) {
    t = kInternalErrorText;
    local = Ord(kInternalErrorRes);
  }
  if (res) *res = local;
  try {
    CopyText(t, text);
  } catch (...) {
  }
}

// Tears the list down while the library is unloaded. Every wait in it has a bound: when
// the lock cannot be had in time (another thread is still inside a call, or this thread
// unloads from within one), the list is left as it is.
void ReleaseListForUnload();

}  // namespace nurva::api
