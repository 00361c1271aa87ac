// Exports of the project files on the card.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

namespace {

// The host's name as the library's string; a null pointer fails the argument check.
std::string HostName(const char* fileName) { return fileName ? std::string(fileName) : std::string(); }

}  // namespace

extern "C" {

NURVA_API void NURVA_CALL GetFileNames(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.GetProjNames(channel, r); });
}

NURVA_API void NURVA_CALL CheckAfile(int32_t channel, const char* fileName, int32_t* res, char* text) {
  ChannelCall(channel, res, text, fileName != nullptr,
              [&](TUSBRdrLst& list, int32_t& r) { return list.CheckFile(channel, HostName(fileName), r); });
}

NURVA_API void NURVA_CALL OpenAfile(int32_t channel, const char* fileName, int32_t* res, char* text) {
  ChannelCall(channel, res, text, fileName != nullptr,
              [&](TUSBRdrLst& list, int32_t& r) { return list.OpenAFile(channel, HostName(fileName), r); });
}

NURVA_API void NURVA_CALL CloseAfile(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.CloseAFile(channel, r); });
}

NURVA_API void NURVA_CALL DeleteAfile(int32_t channel, const char* fileName, int32_t* res, char* text) {
  ChannelCall(channel, res, text, fileName != nullptr, [&](TUSBRdrLst& list, int32_t& r) {
    return list.DeleteFile(static_cast<uint8_t>(channel & 0xFF), HostName(fileName), r);
  });
}

NURVA_API void NURVA_CALL GetFileState(int32_t channel, int32_t* res, char* text) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return list.GetFileState(channel, r); });
}

}  // extern "C"
