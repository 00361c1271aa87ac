#include "tests/sim/BusClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "usbio/USBIO_I.h"
#include "usbio/vusb/VusbProtocol.h"

namespace nurva::test {

namespace {

int Connect(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One record from `fd` within `ms`; empty optional on time-out, an empty vector when the
// connection was closed.
std::optional<Bytes> RecvRecord(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return std::nullopt;
  Bytes buf(64 * 1024);
  ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
  if (n <= 0) return Bytes{};
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace

Bytes Chars(const std::vector<Bytes>& packets) {
  Bytes r;
  for (const auto& p : packets) r.insert(r.end(), p.begin(), p.end());
  return r;
}

BusClient::~BusClient() { Close(); }

void BusClient::Close() {
  for (int* fd : {&in_, &out_, &ctl_})
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
}

bool BusClient::Request(int fd, uint32_t code, const Bytes& input, uint32_t* status) {
  Bytes rec(vusb::kRecHeaderSize + input.size());
  rec[0] = vusb::kRecRequest;
  std::memcpy(rec.data() + 1, &code, 4);
  if (!input.empty()) std::memcpy(rec.data() + vusb::kRecHeaderSize, input.data(), input.size());
  if (::send(fd, rec.data(), rec.size(), MSG_NOSIGNAL) < 0) return false;
  auto reply = RecvRecord(fd, 2000);
  if (!reply || reply->size() < vusb::kRecHeaderSize || (*reply)[0] != vusb::kRecStatus) return false;
  std::memcpy(status, reply->data() + 1, 4);
  return true;
}

bool BusClient::Bind(int fd, uint8_t endpoint, std::string* err) {
  uint32_t st = 1;
  if (!Request(fd, usbio::IOCTL_USBIO_BIND_PIPE, {endpoint}, &st) || st != 0) {
    if (err) *err = "binding endpoint failed";
    return false;
  }
  return true;
}

bool BusClient::Open(const std::string& path, std::string* err) {
  Close();
  ctl_ = Connect(path);
  in_ = Connect(path);
  out_ = Connect(path);
  if (ctl_ < 0 || in_ < 0 || out_ < 0) {
    if (err) *err = "cannot connect to " + path;
    Close();
    return false;
  }
  return Bind(in_, 0x81, err) && Bind(out_, 0x01, err);
}

bool BusClient::Send(const Bytes& payload) {
  Bytes rec(3 + payload.size());
  rec[0] = vusb::kRecData;
  rec[1] = static_cast<uint8_t>(payload.size());
  rec[2] = static_cast<uint8_t>(payload.size() >> 8);
  if (!payload.empty()) std::memcpy(rec.data() + 3, payload.data(), payload.size());
  return out_ >= 0 && ::send(out_, rec.data(), rec.size(), MSG_NOSIGNAL) >= 0;
}

bool BusClient::SendString(const std::string& s) {
  const uint16_t k = static_cast<uint16_t>(s.size());
  Bytes body(1 + s.size());
  body[0] = static_cast<uint8_t>(k);
  if (!s.empty()) std::memcpy(body.data() + 1, s.data(), s.size());
  return Send({static_cast<uint8_t>(k + 1), static_cast<uint8_t>((k + 1) >> 8)}) && Send(body);
}

bool BusClient::VendorRequest() {
  // Flags 1, vendor, device, request 1, value 0, index 0.
  Bytes rec(18, 0);
  rec[0] = 1;
  rec[4] = 2;
  rec[12] = 1;
  uint32_t st = 1;
  return ctl_ >= 0 && Request(ctl_, 0x80942035, rec, &st) && st == 0;
}

std::optional<Bytes> BusClient::Recv(int ms) {
  if (in_ < 0) return std::nullopt;
  auto rec = RecvRecord(in_, ms);
  if (!rec || rec->empty() || (*rec)[0] != vusb::kRecData || rec->size() < 3) return std::nullopt;
  return Bytes(rec->begin() + 3, rec->end());
}

std::vector<Bytes> BusClient::RecvN(size_t n, int ms) {
  std::vector<Bytes> r;
  while (r.size() < n) {
    auto p = Recv(ms);
    if (!p) break;
    r.push_back(std::move(*p));
  }
  return r;
}

std::vector<Bytes> BusClient::Drain(int quietMs) {
  std::vector<Bytes> r;
  while (auto p = Recv(quietMs)) r.push_back(std::move(*p));
  return r;
}

bool BusClient::Closed(int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    auto rec = RecvRecord(in_, 20);
    if (rec && rec->empty()) return true;
  }
  return false;
}

}  // namespace nurva::test
