// Export of the progress status. Its frame differs from the other channel calls: it sets
// no busy mark, and it lets the link take the job's pending statuses before it answers.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

extern "C" {

NURVA_API void NURVA_CALL GetProgStatus(int32_t channel, int32_t* res, char* text) {
  int32_t local = res ? *res : 0;
  std::string t;
  try {
    // Not taken again when this thread holds it already (a poll from a message pass).
    SharedListLock lock;
    // The channel check comes first: while another call runs on the channel (its busy
    // mark set) the poll would take that call's replies, so the statuses stay queued for
    // the next poll and the answer is "Busy".
    if (CheckChannel(channel, local, t)) {
      TUSBRdrLst& list = *lock.List();
      list.ProgStatus(channel);
      t = list.GetProgStatus(channel, local);
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

}  // extern "C"
