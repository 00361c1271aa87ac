// The virtual device on Windows: served on the in-memory bus of the stand-in driver.
#include <cstdlib>

#include "tools/vusb/DeviceRequests.h"
#include "tools/vusb/VirtualDevice.h"
#include "tools/vusb/win32/MemBus.h"
#include "usbio/USBIO_I.h"
#include "usbio/vusb/VusbProtocol.h"

namespace nurva::vusb {

using namespace nurva::usbio;

bool VirtualDevice::Start() {
  if (plugged_.load()) return true;
  port_ = membus::Plug(dir_, name_, path_);
  plugged_.store(true);
  thread_ = std::thread([this, port = port_] {
    for (;;) {
      membus::Item it;
      switch (membus::Take(*port, stallOut_, it)) {
        case membus::TakeResult::Stopped:
          return;
        case membus::TakeResult::Idle:
          continue;
        case membus::TakeResult::Got:
          break;
      }
      if (it.kind == membus::Item::Kind::Out) {
        if (it.endpoint == kEndpointOut) handler_.OnOut(it.data);
        continue;
      }
      uint8_t endpoint = it.endpoint;
      RequestReply reply = DecideReply(handler_, it.code, it.data, endpoint);
      if (reply.kind == RequestReply::Kind::Answer) membus::Answer(it, reply.status, reply.output);
      membus::SetEndpoint(*port, *it.conn, endpoint);
    }
  });
  return true;
}

void VirtualDevice::Unplug() {
  // The port stays with the object, so a SendIn racing with the unplug finds it stopped.
  if (port_) membus::Unplug(*port_);
  if (thread_.joinable()) thread_.join();
  plugged_.store(false);
}

bool VirtualDevice::InBound() const { return port_ && membus::InBound(*port_); }

bool VirtualDevice::SendIn(std::span<const uint8_t> transfer) { return port_ && membus::SendIn(*port_, transfer); }

// The socket transport's members are not used here.
void VirtualDevice::Serve() {}
void VirtualDevice::HandleRecord(Conn&, const uint8_t*, size_t) {}
void VirtualDevice::CloseAll() {}

}  // namespace nurva::vusb
