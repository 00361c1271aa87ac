#include "tools/vusb/DeviceRequests.h"

#include "usbio/USBIO_I.h"

namespace nurva::vusb {

using namespace nurva::usbio;

RequestReply DecideReply(DeviceHandler& handler, uint32_t code, std::span<const uint8_t> input, uint8_t& endpoint) {
  RequestReply reply = handler.OnRequest(code, input);
  if (reply.kind == RequestReply::Kind::Default) {
    reply = RequestReply::Answer(0);
    if (code == IOCTL_USBIO_GET_DRIVER_INFO) {
      USBIO_DRIVER_INFO info{0x0210, 0x0100, 1, 0};
      reply.output.assign(reinterpret_cast<uint8_t*>(&info), reinterpret_cast<uint8_t*>(&info) + sizeof info);
    } else if (code == IOCTL_USBIO_UNBIND_PIPE) {
      reply = RequestReply::Silent();
    }
  }
  // Binding and unbinding change the connection's role, whatever the handler answered.
  if (code == IOCTL_USBIO_BIND_PIPE && !input.empty() && reply.kind == RequestReply::Kind::Answer &&
      reply.status == 0) {
    endpoint = input[0];
  } else if (code == IOCTL_USBIO_UNBIND_PIPE) {
    endpoint = 0;
    reply = RequestReply::Silent();
  }
  return reply;
}

}  // namespace nurva::vusb
