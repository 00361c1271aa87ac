// The parts of a virtual device that do not depend on how it is served.
#include <cstdlib>

#include "tools/vusb/VirtualDevice.h"
#include "usbio/vusb/VusbProtocol.h"

namespace nurva::vusb {

std::string BusDirectory() {
  const char* d = std::getenv(kEnvDir);
  return (d && *d) ? std::string(d) : std::string(kDefaultDir);
}

VirtualDevice::VirtualDevice(std::string dir, std::string name, DeviceHandler& handler)
    : dir_(std::move(dir)), name_(std::move(name)), path_(dir_ + "/" + name_), handler_(handler) {}

VirtualDevice::~VirtualDevice() { Unplug(); }

}  // namespace nurva::vusb
