// Exports of the block transfers: program, over, file and up-file blocks for Flash (F),
// EEprom (E) and the user signature row (U).
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

namespace {

// The argument checks run before the channel is marked busy; a refused call sends nothing.
enum class CountRule {
  Fixed,      // no Count: a program block of 256 bytes
  ProgBlock,  // 1 to 256
  OverBlock,  // 1 to 32, within one 256-byte page
  Wire16,     // 0 to 65535: the wire carries 16 bits of it
};

constexpr int32_t kMaxProgBlock = 256;
constexpr int32_t kMaxOverBlock = 32;
constexpr int32_t kPageSize = 256;
constexpr int32_t kMaxWireCount = 0xFFFF;

bool ArgsOk(CountRule rule, const void* Block, int32_t dest, int32_t Count) {
  if (!Block) return false;
  switch (rule) {
    case CountRule::Fixed: return true;
    case CountRule::ProgBlock: return Count > 0 && Count <= kMaxProgBlock;
    case CountRule::OverBlock: {
      if (Count <= 0 || Count > kMaxOverBlock) return false;
      // The last address in 64 bits: no overflow for any dest. Both divisions truncate
      // toward zero, as the page rule is stated.
      const int64_t last = static_cast<int64_t>(dest) + Count - 1;
      return dest / kPageSize == last / kPageSize;
    }
    case CountRule::Wire16: return Count >= 0 && Count <= kMaxWireCount;
  }
  return false;
}

// The list methods take the channel as a byte; CheckChannel has bounded it already.
uint8_t ChannelByte(int32_t channel) { return static_cast<uint8_t>(channel & 0xFF); }

// The over, file and up-file blocks: one list method each, with the memory as argument.
template <class Ptr, class Method>
void MemoryBlock(Method method, CountRule rule, tMemType mem, int32_t channel, Ptr Block, int32_t dest,
                 int32_t Count, int32_t* res, char* text) {
  ChannelCall(channel, res, text, ArgsOk(rule, Block, dest, Count), [&](TUSBRdrLst& list, int32_t& r) {
    return (list.*method)(ChannelByte(channel), mem, Block, dest, Count, r);
  });
}

}  // namespace

extern "C" {

NURVA_API void NURVA_CALL DownProgBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res,
                                         char* text) {
  ChannelCall(channel, res, text, ArgsOk(CountRule::Fixed, Block, dest, 0), [&](TUSBRdrLst& list, int32_t& r) {
    return list.DownProgBlockF(ChannelByte(channel), Block, dest, r);
  });
}

NURVA_API void NURVA_CALL DownProgBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  ChannelCall(channel, res, text, ArgsOk(CountRule::ProgBlock, Block, dest, Count), [&](TUSBRdrLst& list, int32_t& r) {
    return list.DownProgBlockE(ChannelByte(channel), Block, dest, Count, r);
  });
}

NURVA_API void NURVA_CALL DownProgBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res,
                                         char* text) {
  ChannelCall(channel, res, text, ArgsOk(CountRule::Fixed, Block, dest, 0), [&](TUSBRdrLst& list, int32_t& r) {
    return list.DownProgBlockU(ChannelByte(channel), Block, dest, r);
  });
}

NURVA_API void NURVA_CALL DownOverBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownOverBlock, CountRule::OverBlock, tMemType::isFlash, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL DownOverBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownOverBlock, CountRule::OverBlock, tMemType::isEEprom, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL DownOverBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownOverBlock, CountRule::OverBlock, tMemType::isUsrRow, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL DownFileBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownFileBlock, CountRule::Wire16, tMemType::isFlash, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL DownFileBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownFileBlock, CountRule::Wire16, tMemType::isEEprom, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL DownFileBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text) {
  MemoryBlock(&TUSBRdrLst::DownFileBlock, CountRule::Wire16, tMemType::isUsrRow, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL UpFileBlockF(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text) {
  MemoryBlock(&TUSBRdrLst::UpFileBlock, CountRule::Wire16, tMemType::isFlash, channel, Block, dest, Count, res, text);
}

NURVA_API void NURVA_CALL UpFileBlockE(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text) {
  MemoryBlock(&TUSBRdrLst::UpFileBlock, CountRule::Wire16, tMemType::isEEprom, channel, Block, dest, Count, res,
              text);
}

NURVA_API void NURVA_CALL UpFileBlockU(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text) {
  MemoryBlock(&TUSBRdrLst::UpFileBlock, CountRule::Wire16, tMemType::isUsrRow, channel, Block, dest, Count, res,
              text);
}

}  // extern "C"
