// How a virtual device answers a driver request, whatever carries the request to it.
#pragma once

#include <cstdint>
#include <span>

#include "tools/vusb/VirtualDevice.h"

namespace nurva::vusb {

// Asks `handler` first, then fills in the device's default answer (driver info, success,
// no answer to UNBIND_PIPE). `endpoint` is the connection's bound endpoint (0 = none);
// a successful BIND_PIPE and every UNBIND_PIPE change it.
RequestReply DecideReply(DeviceHandler& handler, uint32_t code, std::span<const uint8_t> input, uint8_t& endpoint);

}  // namespace nurva::vusb
