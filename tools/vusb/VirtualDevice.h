// The device side of the virtual USB bus: one socket in the bus directory that plays a
// USB device. It answers the driver requests a device object sends, tracks which
// connection is bound to which endpoint, hands OUT transfers to a handler and sends IN
// transfers on the connection bound to 0x81.
//
// On Windows the same device is served in memory instead: it registers under its path
// (directory and name, as on Linux) with the stand-in driver of the tests
// (tools/vusb/FakeDriver.h), whose CreateFileW connects to it; requests, OUT frames and
// IN transfers are the same records as on the bus.
#pragma once

#include <atomic>
#include <memory>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace nurva::vusb {

namespace membus {
struct Port;
}

// The answer to a driver request.
struct RequestReply {
  enum class Kind { Default, Answer, Silent } kind = Kind::Default;
  uint32_t status = 0;
  std::vector<uint8_t> output;

  static RequestReply Default() { return {}; }
  static RequestReply Answer(uint32_t st, std::vector<uint8_t> out = {}) { return {Kind::Answer, st, std::move(out)}; }
  static RequestReply Silent() { return {Kind::Silent, 0, {}}; }
};

// What a device does with the host's traffic. Called on the device's service thread,
// one call at a time.
class DeviceHandler {
 public:
  virtual ~DeviceHandler() = default;
  // Every request, before the device's default answer (Default keeps that answer).
  virtual RequestReply OnRequest(uint32_t code, std::span<const uint8_t> input) {
    (void)code;
    (void)input;
    return RequestReply::Default();
  }
  // One bulk OUT transfer: the frame as the host wrote it (length bytes and payload).
  virtual void OnOut(std::span<const uint8_t> frame) = 0;
};

// Directory of the bus: $NURVA_VUSB_DIR, else the default.
std::string BusDirectory();

class VirtualDevice {
 public:
  VirtualDevice(std::string dir, std::string name, DeviceHandler& handler);
  ~VirtualDevice();
  VirtualDevice(const VirtualDevice&) = delete;
  VirtualDevice& operator=(const VirtualDevice&) = delete;

  // Creates the socket and starts serving it; false (with errno-based text in Error())
  // when the socket cannot be made.
  bool Start();
  // Closes every connection and removes the socket: the device is unplugged.
  void Unplug();
  bool Plugged() const { return plugged_.load(); }

  // Sends one IN transfer (at most 512 bytes, header included) on the connection bound
  // to 0x81. False when no connection is bound or the host side has gone.
  bool SendIn(std::span<const uint8_t> transfer);
  bool InBound() const;
  // While stalled, OUT transfers are left unread, so the host's writes stop completing.
  void StallOut(bool stall) { stallOut_.store(stall); }

  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  struct Conn {
    int fd = -1;
    uint8_t endpoint = 0;  // 0 = not bound
  };
  void Serve();
  void HandleRecord(Conn& c, const uint8_t* rec, size_t n);
  void CloseAll();

  std::string dir_, name_, path_, error_;
  DeviceHandler& handler_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::atomic<bool> plugged_{false};
  std::atomic<bool> stallOut_{false};
  mutable std::mutex connLock_;
  std::vector<Conn> conns_;
  int inFd_ = -1;  // connection bound to 0x81
  std::thread thread_;
#ifdef _WIN32
  std::shared_ptr<membus::Port> port_;  // this device on the in-memory bus while plugged
#endif
};

}  // namespace nurva::vusb
