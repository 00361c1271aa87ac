#include <atomic>

#include "usbio/win32/DriverCalls.h"

namespace nurva::usbio::win32 {

namespace {

const DriverCalls kSystem = {
    ::SetupDiGetClassDevsA,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailW,
    ::SetupDiDestroyDeviceInfoList,
    ::CreateFileW,
    ::CloseHandle,
    ::DeviceIoControl,
    ::ReadFile,
    ::WriteFile,
    ::CancelIo,
    ::CancelIoEx,
    ::GetOverlappedResult,
};

std::atomic<const DriverCalls*> gCalls{&kSystem};

}  // namespace

const DriverCalls& Driver() { return *gCalls.load(std::memory_order_acquire); }

const DriverCalls& SystemDriverCalls() { return kSystem; }

void SetDriverCalls(const DriverCalls* calls) { gCalls.store(calls ? calls : &kSystem, std::memory_order_release); }

}  // namespace nurva::usbio::win32
