// Export of the progress status: the link takes the job's pending statuses, then answers
// with the newest. Like every channel call it holds the channel's busy mark while it reads,
// so a poll and another call on the same channel (or two polls) never share the link's
// receive queue and fields: whichever comes second answers "Busy".
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

extern "C" {

NURVA_API void NURVA_CALL GetProgStatus(int32_t channel, int32_t* res, char* text) {
  // While another call runs on the channel the poll would take that call's replies: the
  // statuses stay queued for the next poll and the answer is "Busy".
  ChannelCall(channel, res, text, true, [channel](TUSBRdrLst& list, int32_t& code) {
    list.ProgStatus(channel);
    return list.GetProgStatus(channel, code);
  });
}

}  // extern "C"
