// The one addition of the test build of the library: a host test hands it the driver
// calls to use (the stand-in driver of the test program), before the first AbortAll.
#include "usbio/win32/DriverCalls.h"

extern "C" __declspec(dllexport) void NurvaTest_UseDriverCalls(const nurva::usbio::win32::DriverCalls* calls) {
  nurva::usbio::win32::SetDriverCalls(calls);
}
