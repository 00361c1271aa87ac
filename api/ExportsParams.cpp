// Export of the project parameters report.
#include "api/CallPattern.h"
#include "api/NURVA_DLL.h"

using namespace nurva;
using namespace nurva::api;

extern "C" {

NURVA_API void NURVA_CALL GetProjParams(int32_t channel, const char* fileName, int32_t* res, char* text) {
  ChannelCall(channel, res, text, fileName != nullptr, [&](TUSBRdrLst& list, int32_t& r) {
    return list.GetProjParams(channel, std::string(fileName), r);
  });
}

}  // extern "C"
