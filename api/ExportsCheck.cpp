// Exports of the programmer check and target control.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

namespace {

// The only codes CheckProgrammer hands on to the host; any other leaves the host's res.
bool IsProgrammerCheckCode(int32_t code) {
  switch (static_cast<TPrgResult>(code)) {
    case TPrgResult::MMCok:
    case TPrgResult::MMCmissing:
    case TPrgResult::MMCinitFailed:
    case TPrgResult::MMCresetFailed:
    case TPrgResult::MMCcheckFailed:
    case TPrgResult::MMCnoProg:
    case TPrgResult::MMCprogBusy:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

NURVA_API void NURVA_CALL CheckProgrammer(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) {
    int32_t code = -1;
    std::string t = list.CheckProgrammer(channel, code);
    if (IsProgrammerCheckCode(code)) r = code;
    return t;
  });
}

NURVA_API void NURVA_CALL InitChannel(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.InitChannel(channel, r); });
}

NURVA_API void NURVA_CALL ReleaseTarget(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.ReleaseTarget(channel, r); });
}

NURVA_API void NURVA_CALL CheckDevice(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.CheckDevice(channel, r); });
}

NURVA_API void NURVA_CALL GetTargVolt(int32_t channel, int32_t* Volt, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) {
    int32_t v = Volt ? *Volt : 0;
    std::string t = list.GetTargVolt(channel, v, r);
    if (Volt) *Volt = v;
    return t;
  });
}

NURVA_API void NURVA_CALL GetFuses(int32_t channel, int32_t selfuse, int32_t* fuse, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) {
    int32_t f = fuse ? *fuse : 0;
    std::string t = list.GetFuse(channel, static_cast<char>(selfuse & 0xFF), f, r);
    if (fuse) *fuse = f;
    return t;
  });
}

}  // extern "C"
