// Device and pipe objects over the virtual USB bus (see VusbProtocol.h).
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "usbio/USBIO.h"
#include "usbio/UsbIoPipe.h"
#include "usbio/vusb/VusbProtocol.h"

namespace nurva::usbio {

struct TDeviceList {
  std::vector<std::string> paths;
};

struct TUsbIo::Impl {
  std::mutex lock;  // one driver request at a time on this object
  int fd = -1;
  bool hasDetail = false;
  std::string path;
  // Status records still owed by the device for requests that were given up on; they are
  // skipped, so a late answer is never taken for the answer to a later request.
  uint32_t staleReplies = 0;
};

struct TUsbIoOverlapped::State {
  enum class Op { None, Read, Write, Ioctl } op = Op::None;
  int fd = -1;
  void* buf = nullptr;  // read target or ioctl output
  uint32_t size = 0;
  const void* wbuf = nullptr;  // write source
};

namespace {

std::string BusDir() {
  const char* d = std::getenv(vusb::kEnvDir);
  return (d && *d) ? std::string(d) : std::string(vusb::kDefaultDir);
}

uint32_t ErrnoStatus(int e) {
  switch (e) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
    case ECONNREFUSED:
      return kErrDeviceNotConnected;
    default:
      return e == 0 ? kErrDeviceNotConnected : static_cast<uint32_t>(e);
  }
}

// Sends one record made of a header and a body; waits for room at most `ms`.
bool SendRecord(int fd, const void* head, size_t headSize, const void* body, size_t bodySize, uint32_t ms,
                uint32_t& status) {
  iovec iov[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(body), bodySize}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = bodySize ? 2 : 1;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    ssize_t n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      status = ErrnoStatus(errno);
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      status = kErrWaitTimeout;
      return false;
    }
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
}

enum class RecvResult { Got, Empty, Closed };

// Receives one record without waiting: the tag into `tag`, the rest into `body`
// (excess bytes are discarded with the record). `n` = body bytes stored.
RecvResult RecvRecord(int fd, uint8_t& tag, void* body, size_t cap, size_t& n, uint32_t& status) {
  iovec iov[2] = {{&tag, 1}, {body, cap}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = cap ? 2 : 1;
  for (;;) {
    ssize_t r = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (r > 0) {
      n = std::min(static_cast<size_t>(r - 1), cap);
      return RecvResult::Got;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return RecvResult::Empty;
    status = r == 0 ? kErrDeviceNotConnected : ErrnoStatus(errno);
    return RecvResult::Closed;
  }
}

// Takes the next status record meant for the current request. Returns true when the
// request has finished (successfully or not: see `status`), false while it is pending.
bool TakeStatus(TUsbIo::Impl& p, void* out, uint32_t outSize, uint32_t& bytes, uint32_t& status) {
  // The output of a request is small; a status record holds a 4-byte status and the output.
  uint8_t rec[4 + 1024];
  for (;;) {
    uint8_t tag = 0;
    size_t n = 0;
    switch (RecvRecord(p.fd, tag, rec, sizeof rec, n, status)) {
      case RecvResult::Empty:
        status = kErrIoIncomplete;
        return false;
      case RecvResult::Closed:
        return true;
      case RecvResult::Got:
        break;
    }
    if (tag != vusb::kRecStatus || n < 4) continue;  // not an answer: skip it
    if (p.staleReplies > 0) {
      --p.staleReplies;
      continue;
    }
    std::memcpy(&status, rec, 4);
    uint32_t got = static_cast<uint32_t>(n - 4);
    bytes = std::min(got, out ? outSize : 0u);
    if (bytes) std::memcpy(out, rec + 4, bytes);
    return true;
  }
}

}  // namespace

// ---- TUsbIoOverlapped ----

TUsbIoOverlapped::TUsbIoOverlapped() : s_(std::make_unique<State>()) {}

TUsbIoOverlapped::~TUsbIoOverlapped() {
  if (owner_) Cancel();
}

bool TUsbIoOverlapped::Valid() const { return s_ != nullptr; }

WaitItem TUsbIoOverlapped::Item() const {
  return WaitItem{s_->fd, static_cast<short>(s_->op == State::Op::Write ? POLLOUT : POLLIN)};
}

bool TUsbIoOverlapped::GetResult(uint32_t& bytes, uint32_t& status) {
  bytes = 0;
  if (!owner_) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return false;
  }
  bool finished = false;
  bool ok = false;
  status = 0;
  switch (s_->op) {
    case State::Op::Read: {
      for (;;) {
        uint8_t tag = 0;
        size_t n = 0;
        RecvResult r = RecvRecord(s_->fd, tag, s_->buf, s_->size, n, status);
        if (r == RecvResult::Empty) {
          status = kErrIoIncomplete;
          break;
        }
        finished = true;
        if (r == RecvResult::Got) {
          if (tag != vusb::kRecData) {
            finished = false;  // not bulk data: skip it
            continue;
          }
          bytes = static_cast<uint32_t>(n);
          ok = true;
        }
        break;
      }
      break;
    }
    case State::Op::Write: {
      const uint8_t tag = vusb::kRecData;
      iovec iov[2] = {{const_cast<uint8_t*>(&tag), 1}, {const_cast<void*>(s_->wbuf), s_->size}};
      msghdr msg{};
      msg.msg_iov = iov;
      msg.msg_iovlen = 2;
      ssize_t n = ::sendmsg(s_->fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n >= 0) {
        finished = ok = true;
        bytes = s_->size;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        status = kErrIoIncomplete;
      } else {
        finished = true;
        status = ErrnoStatus(errno);
      }
      break;
    }
    case State::Op::Ioctl: {
      std::lock_guard<std::mutex> g(owner_->p_->lock);
      finished = TakeStatus(*owner_->p_, s_->buf, s_->size, bytes, status);
      ok = finished && status == 0;
      break;
    }
    case State::Op::None:
      status = USBIO_ERR_DEVICE_NOT_OPEN;
      finished = true;
      break;
  }
  if (finished) {
    owner_ = nullptr;
    s_->op = State::Op::None;
  }
  return ok;
}

void TUsbIoOverlapped::Cancel() {
  if (!owner_) return;
  // Reads and writes on the bus touch the caller's buffer only inside GetResult, so
  // nothing is left in flight. A request's answer may still come: skip it later.
  if (s_->op == State::Op::Ioctl) {
    std::lock_guard<std::mutex> g(owner_->p_->lock);
    ++owner_->p_->staleReplies;
  }
  owner_ = nullptr;
  s_->op = State::Op::None;
}

// ---- TUsbIo ----

TUsbIo::TUsbIo() : p_(std::make_unique<Impl>()) {}

TUsbIo::~TUsbIo() { Close(); }

TDeviceList* TUsbIo::CreateDeviceList(const Guid* interfaceGuid) {
  if (!interfaceGuid) return nullptr;
  auto* list = new (std::nothrow) TDeviceList;
  if (!list) return nullptr;
  const std::string dir = BusDir();
  if (DIR* d = ::opendir(dir.c_str())) {
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st{};
      std::string full = dir + "/" + name;
      if (::stat(full.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) names.push_back(std::move(name));
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());  // bytewise order of std::string
    for (auto& n : names) list->paths.push_back(dir + "/" + n);
  }
  return list;
}

void TUsbIo::DestroyDeviceList(TDeviceList* list) { delete list; }

uint32_t TUsbIo::GetDeviceInstanceDetails(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid) {
  if (!list || !interfaceGuid) return USBIO_ERR_INVALID_PARAMETER;
  p_->hasDetail = false;
  p_->path.clear();
  if (deviceNumber < 0 || static_cast<size_t>(deviceNumber) >= list->paths.size()) return USBIO_ERR_NO_SUCH_DEVICE;
  p_->path = list->paths[static_cast<size_t>(deviceNumber)];
  p_->hasDetail = true;
  return 0;
}

std::string TUsbIo::GetDevicePathName() const { return p_->hasDetail ? p_->path : std::string(); }

uint32_t TUsbIo::Open(int32_t deviceNumber, TDeviceList* list, const Guid* interfaceGuid) {
  if (p_->fd >= 0) return 0;
  uint32_t st = GetDeviceInstanceDetails(deviceNumber, list, interfaceGuid);
  if (st != 0) return st;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (p_->path.size() >= sizeof addr.sun_path) return USBIO_ERR_DEVICE_OPEN_FAILED;
  std::memcpy(addr.sun_path, p_->path.c_str(), p_->path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return USBIO_ERR_DEVICE_OPEN_FAILED;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return USBIO_ERR_DEVICE_OPEN_FAILED;
  }
  p_->fd = fd;
  p_->staleReplies = 0;
  USBIO_DRIVER_INFO info{};
  st = GetDriverInfo(&info);
  if (st != 0) {
    Close();
    return st;
  }
  return 0;
}

void TUsbIo::Close() {
  if (p_->fd >= 0) {
    ::close(p_->fd);
    p_->fd = -1;
  }
  p_->hasDetail = false;
  p_->path.clear();
}

bool TUsbIo::IsOpen() const { return p_->fd >= 0; }

uint32_t TUsbIo::IoctlSync(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* bytesReturned) {
  if (p_->fd < 0) return USBIO_ERR_DEVICE_NOT_OPEN;
  std::lock_guard<std::mutex> g(p_->lock);
  uint32_t status = 0;
  uint32_t bytes = 0;
  uint8_t head[vusb::kRecHeaderSize] = {vusb::kRecRequest};
  std::memcpy(head + 1, &code, 4);
  if (!SendRecord(p_->fd, head, sizeof head, in, in ? inSize : 0, kSyncRequestTimeoutMs, status)) return status;
  if (code == IOCTL_USBIO_UNBIND_PIPE) return 0;  // not answered on the bus
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSyncRequestTimeoutMs);
  for (;;) {
    if (TakeStatus(*p_, out, outSize, bytes, status)) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      ++p_->staleReplies;
      return kErrWaitTimeout;
    }
    pollfd pf{p_->fd, POLLIN, 0};
    ::poll(&pf, 1, static_cast<int>(left));
  }
  if (bytesReturned) *bytesReturned = bytes;
  return status;
}

IoStart TUsbIo::StartRead(void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status) {
  bytes = 0;
  if (p_->fd < 0) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return IoStart::Failed;
  }
  *ov.s_ = TUsbIoOverlapped::State{TUsbIoOverlapped::State::Op::Read, p_->fd, buf, size, nullptr};
  ov.owner_ = this;
  if (ov.GetResult(bytes, status)) return IoStart::Completed;
  if (status == kErrIoIncomplete) {
    ov.owner_ = this;
    ov.s_->op = TUsbIoOverlapped::State::Op::Read;
    return IoStart::Pending;
  }
  return IoStart::Failed;
}

IoStart TUsbIo::StartWrite(const void* buf, uint32_t size, TUsbIoOverlapped& ov, uint32_t& bytes,
                           uint32_t& status) {
  bytes = 0;
  if (p_->fd < 0) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return IoStart::Failed;
  }
  *ov.s_ = TUsbIoOverlapped::State{TUsbIoOverlapped::State::Op::Write, p_->fd, nullptr, size, buf};
  ov.owner_ = this;
  if (ov.GetResult(bytes, status)) return IoStart::Completed;
  if (status == kErrIoIncomplete) {
    ov.owner_ = this;
    ov.s_->op = TUsbIoOverlapped::State::Op::Write;
    return IoStart::Pending;
  }
  return IoStart::Failed;
}

IoStart TUsbIo::StartIoctl(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                           TUsbIoOverlapped& ov, uint32_t& bytes, uint32_t& status) {
  bytes = 0;
  if (p_->fd < 0) {
    status = USBIO_ERR_DEVICE_NOT_OPEN;
    return IoStart::Failed;
  }
  {
    std::lock_guard<std::mutex> g(p_->lock);
    uint8_t head[vusb::kRecHeaderSize] = {vusb::kRecRequest};
    std::memcpy(head + 1, &code, 4);
    if (!SendRecord(p_->fd, head, sizeof head, in, in ? inSize : 0, kSyncRequestTimeoutMs, status))
      return IoStart::Failed;
  }
  if (code == IOCTL_USBIO_UNBIND_PIPE) return IoStart::Completed;
  *ov.s_ = TUsbIoOverlapped::State{TUsbIoOverlapped::State::Op::Ioctl, p_->fd, out, out ? outSize : 0, nullptr};
  ov.owner_ = this;
  return IoStart::Pending;
}

}  // namespace nurva::usbio
