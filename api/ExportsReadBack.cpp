// Exports of the read back: one block of the target's Flash (F), EEprom (E) or user
// signature row (U) into the host's memory.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

namespace {

constexpr int32_t kMaxPageCount = 256;

}  // namespace

extern "C" {

NURVA_API void NURVA_CALL ReadBackChipF(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res,
                                        char* text) {
  ChannelCall(channel, res, text, pDestAddr != nullptr, [&](TUSBRdrLst& list, int32_t& r) {
    return list.ReadBackChipF(channel, pDestAddr, ChipAddr, r);
  });
}

NURVA_API void NURVA_CALL ReadBackChipE(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                        int32_t* res, char* text) {
  const bool argsOk = pDestAddr != nullptr && PageCount > 0 && PageCount <= kMaxPageCount;
  ChannelCall(channel, res, text, argsOk, [&](TUSBRdrLst& list, int32_t& r) {
    return list.ReadBackChipE(channel, pDestAddr, ChipAddr, PageCount, r);
  });
}

NURVA_API void NURVA_CALL ReadBackChipU(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res,
                                        char* text) {
  ChannelCall(channel, res, text, pDestAddr != nullptr, [&](TUSBRdrLst& list, int32_t& r) {
    return list.ReadBackChipU(channel, pDestAddr, ChipAddr, r);
  });
}

}  // extern "C"
