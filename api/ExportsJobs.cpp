// Exports of erase, program and verify.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

namespace {

using ListMethod = std::string (TUSBRdrLst::*)(int32_t, int32_t&);

void JobCall(int32_t channel, int32_t* res, char* text, ListMethod method) {
  ChannelCall(channel, res, text, true, [&](TUSBRdrLst& list, int32_t& r) { return (list.*method)(channel, r); });
}

}  // namespace

extern "C" {

NURVA_API void NURVA_CALL EraseDevice(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::EraseDevice);
}

NURVA_API void NURVA_CALL EraseDeviceX(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::EraseDeviceX);
}

NURVA_API void NURVA_CALL EraseDeviceUsr(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::EraseDeviceUsr);
}

NURVA_API void NURVA_CALL ProgDevice(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgDevice);
}

NURVA_API void NURVA_CALL ProgFlash(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgFlash);
}

NURVA_API void NURVA_CALL ProgEEprom(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgEEprom);
}

NURVA_API void NURVA_CALL ProgUsrRow(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgUsrRow);
}

NURVA_API void NURVA_CALL ProgFuses(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgFuses);
}

NURVA_API void NURVA_CALL ProgLockBits(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::ProgLockBits);
}

NURVA_API void NURVA_CALL VerifyDevice(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::VerifyDevice);
}

NURVA_API void NURVA_CALL VerifyFlashOnly(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::VerifyFlashOnly);
}

NURVA_API void NURVA_CALL VerifyEEpromOnly(int32_t channel, int32_t* res, char* text) {
  JobCall(channel, res, text, &TUSBRdrLst::VerifyEEpromOnly);
}

}  // extern "C"
