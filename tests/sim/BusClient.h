// A bare host on the virtual bus for the model's tests: one connection bound to the IN
// endpoint, one to the OUT endpoint, frames sent and IN packets taken as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nurva::test {

using Bytes = std::vector<uint8_t>;

class BusClient {
 public:
  BusClient() = default;
  ~BusClient();
  BusClient(const BusClient&) = delete;
  BusClient& operator=(const BusClient&) = delete;

  // Connects to the device socket at `path` and binds both pipes.
  bool Open(const std::string& path, std::string* err = nullptr);
  void Close();

  // One OUT packet: 2-byte length, then `payload`.
  bool Send(const Bytes& payload);
  bool Cmd(uint8_t type, uint8_t ch) { return Send({type, ch}); }
  bool Tesk(uint8_t ch) { return Cmd(2, ch); }
  // The string as the host's link sends it: a word k+1, then the length byte and k characters.
  bool SendString(const std::string& s);
  // The vendor control request the host sends before it retries an identify.
  bool VendorRequest();

  // The payload of the next IN packet (its 2-byte header skipped), or nullopt when none
  // comes within `ms`.
  std::optional<Bytes> Recv(int ms = 1000);
  // Payloads of the next `n` packets; fewer when they stop coming.
  std::vector<Bytes> RecvN(size_t n, int ms = 1000);
  // Every packet that comes until none has come for `quietMs`.
  std::vector<Bytes> Drain(int quietMs = 150);
  // True when the device has closed the IN connection (unplugged).
  bool Closed(int ms = 1000);

 private:
  bool Bind(int fd, uint8_t endpoint, std::string* err);
  bool Request(int fd, uint32_t code, const Bytes& input, uint32_t* status);
  int in_ = -1, out_ = -1, ctl_ = -1;
};

// The payloads `b` as one flat list of single bytes: {{6},{0}} -> {6, 0}.
Bytes Chars(const std::vector<Bytes>& packets);

}  // namespace nurva::test
