// No device notifications outside Windows: the notifier keeps its interface and calls
// nothing.
#include "transport/ComponentUSB.h"

namespace nurva {

struct TComponentUSB::Impl {};

TComponentUSB::TComponentUSB() = default;

TComponentUSB::~TComponentUSB() = default;

bool TComponentUSB::RegisterUSBNotification() { return false; }

void TComponentUSB::StopForUnload() {}

void TComponentUSB::WMDeviceChange(uintptr_t, const void*) {}

}  // namespace nurva
