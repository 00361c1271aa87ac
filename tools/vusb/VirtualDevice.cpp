#include "tools/vusb/VirtualDevice.h"

#include "tools/vusb/DeviceRequests.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "usbio/USBIO_I.h"
#include "usbio/vusb/VusbProtocol.h"

namespace nurva::vusb {

using namespace nurva::usbio;

bool VirtualDevice::Start() {
  ::mkdir(dir_.c_str(), 0777);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.size() >= sizeof addr.sun_path) {
    error_ = "socket path too long: " + path_;
    return false;
  }
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    error_ = std::string("cannot serve ") + path_ + ": " + std::strerror(errno);
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  plugged_.store(true);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void VirtualDevice::Unplug() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(path_.c_str());
  }
  if (stopFd_ >= 0) {
    ::close(stopFd_);
    stopFd_ = -1;
  }
  CloseAll();
  plugged_.store(false);
}

void VirtualDevice::CloseAll() {
  std::lock_guard<std::mutex> g(connLock_);
  for (auto& c : conns_) ::close(c.fd);
  conns_.clear();
  inFd_ = -1;
}

bool VirtualDevice::InBound() const {
  std::lock_guard<std::mutex> g(connLock_);
  return inFd_ >= 0;
}

bool VirtualDevice::SendIn(std::span<const uint8_t> transfer) {
  std::lock_guard<std::mutex> g(connLock_);
  if (inFd_ < 0) return false;
  const uint8_t tag = kRecData;
  iovec iov[2] = {{const_cast<uint8_t*>(&tag), 1},
                  {const_cast<uint8_t*>(transfer.data()), transfer.size()}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  return ::sendmsg(inFd_, &msg, MSG_NOSIGNAL) >= 0;
}

void VirtualDevice::Serve() {
  std::vector<uint8_t> rec(64 * 1024);
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({stopFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    {
      std::lock_guard<std::mutex> g(connLock_);
      for (auto& c : conns_)
        if (!(stallOut_.load() && c.endpoint == kEndpointOut)) fds.push_back({c.fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), stallOut_.load() ? 20 : -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        std::lock_guard<std::mutex> g(connLock_);
        conns_.push_back({fd, 0});
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      ssize_t n = ::recv(fds[i].fd, rec.data(), rec.size(), MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      std::unique_lock<std::mutex> g(connLock_);
      Conn* c = nullptr;
      for (auto& cc : conns_)
        if (cc.fd == fds[i].fd) c = &cc;
      if (!c) continue;
      if (n <= 0) {  // the host closed this connection
        if (inFd_ == c->fd) inFd_ = -1;
        ::close(c->fd);
        std::erase_if(conns_, [&](const Conn& x) { return x.fd == fds[i].fd; });
        continue;
      }
      Conn copy = *c;
      g.unlock();
      HandleRecord(copy, rec.data(), static_cast<size_t>(n));
      g.lock();
      for (auto& cc : conns_)
        if (cc.fd == copy.fd) cc.endpoint = copy.endpoint;
    }
  }
}

void VirtualDevice::HandleRecord(Conn& c, const uint8_t* rec, size_t n) {
  if (n < 1) return;
  if (rec[0] == kRecData) {
    if (c.endpoint == kEndpointOut) handler_.OnOut({rec + 1, n - 1});
    return;
  }
  if (rec[0] != kRecRequest || n < kRecHeaderSize) return;
  uint32_t code;
  std::memcpy(&code, rec + 1, 4);
  std::span<const uint8_t> input(rec + kRecHeaderSize, n - kRecHeaderSize);

  RequestReply reply = DecideReply(handler_, code, input, c.endpoint);
  if (reply.kind == RequestReply::Kind::Answer) {
    std::vector<uint8_t> out(kRecHeaderSize + reply.output.size());
    out[0] = kRecStatus;
    std::memcpy(out.data() + 1, &reply.status, 4);
    if (!reply.output.empty()) std::memcpy(out.data() + kRecHeaderSize, reply.output.data(), reply.output.size());
    ::send(c.fd, out.data(), out.size(), MSG_NOSIGNAL);
  }
  std::lock_guard<std::mutex> g(connLock_);
  if (c.endpoint == kEndpointIn) {
    inFd_ = c.fd;
  } else if (inFd_ == c.fd) {
    inFd_ = -1;
  }
}

}  // namespace nurva::vusb
