// What every export has in common: the one list of programmer links, the channel check,
// the busy mark, and the copy of the result text into the host's buffer.
#pragma once

#include <cstdint>
#include <shared_mutex>
#include <string>

#include "transport/RdrList.h"

namespace nurva::api {

// The list of links; none until the first AbortAll.
extern TUSBRdrLst* RdrList;
// Exports hold it shared while they use the list; AbortAll and unload hold it alone, so
// no export ever touches a link that is being freed.
extern std::shared_mutex ListLock;

// Result code and text of a failure that no command foresaw.
inline constexpr const char* kInternalErrorText = "internal error";
inline constexpr TPrgResult kInternalErrorRes = TPrgResult::progComErr;

// Copies `text` up to its first NUL byte, then one NUL byte; nothing when `buf` is null.
void CopyText(const std::string& text, char* buf);

// True when the call may go on; otherwise `res` and `text` say why. The list lock is held.
bool CheckChannel(int32_t Channel, int32_t& res, std::string& text);

// The call pattern of a channel export: channel check, argument check (`argsOk`), busy
// mark (taken in one atomic step), the command, then the text copy. `command` gets the
// list and the code to write, and returns the result text. A null `res` or `text` from
// the host is skipped.
template <class Command>
void ChannelCall(int32_t Channel, int32_t* res, char* text, bool argsOk, Command&& command) {
  int32_t local = res ? *res : 0;
  std::string t;
  try {
    std::shared_lock<std::shared_mutex> lock(ListLock);
    if (CheckChannel(Channel, local, t)) {
      TUSBreader& link = *RdrList->GetItem(Channel);
      if (!argsOk) {
        t = "parameter error";
        local = Ord(TPrgResult::ParmErr);
      } else if (link.busy.exchange(true)) {
        t = "Busy";  // another call took the channel between the check and here
        local = Ord(TPrgResult::progBusy);
      } else {
        try {
          t = command(*RdrList, local);
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

// Tears the list down while the library is unloaded.
void ReleaseListForUnload();

}  // namespace nurva::api
