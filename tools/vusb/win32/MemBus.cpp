// The in-memory bus and the stand-in driver that serves it to the device and pipe
// objects. Both sides share one lock; handlers of the devices are never called under it.
#include "tools/vusb/win32/MemBus.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "tools/vusb/FakeDriver.h"
#include "tools/vusb/VirtualDevice.h"
#include "usbio/USBIO_I.h"
#include "usbio/win32/DriverCalls.h"

namespace nurva::vusb {

namespace membus {

using Bytes = std::vector<uint8_t>;
using fake::Clock;
using fake::IoKind;
using fake::IoRecord;

namespace {

constexpr ULONG_PTR kStatusPending = 0x00000103;
// OUT bytes a connection holds before writes stop completing, like a socket's buffer.
constexpr size_t kOutCapacity = 64 * 1024;
constexpr uint32_t kDefaultCancelDelayMs = 5;

}  // namespace

struct Op {
  IoKind kind = IoKind::Request;
  HANDLE file = nullptr;
  OVERLAPPED* ov = nullptr;
  HANDLE event = nullptr;  // the stand-in's own reference to the caller's event
  uint8_t* out = nullptr;  // read target or request output
  uint32_t outSize = 0;
  const uint8_t* src = nullptr;  // write source, read when the write is accepted
  uint32_t size = 0;
  uint64_t id = 0;
  DWORD thread = 0;
  bool cancelling = false;
  std::shared_ptr<Conn> conn;
  std::shared_ptr<IoRecord> record;
};

struct Entry {
  Item::Kind kind = Item::Kind::Out;
  uint64_t id = 0;
  uint32_t code = 0;
  Bytes data;
  Op* write = nullptr;  // a write not yet accepted (its data not yet taken)
};

struct Conn {
  Port* port = nullptr;
  uint8_t endpoint = 0;
  bool hostOpen = true;
  bool deviceGone = false;
  std::deque<Entry> fifo;
  std::deque<Bytes> in;
  std::deque<Op*> reads;
  std::vector<Op*> requests;
};

struct Port {
  std::string dir, name, path;
  std::condition_variable cv;
  bool stopped = false;
  std::vector<std::shared_ptr<Conn>> conns;
  std::shared_ptr<Conn> inConn;
  size_t next = 0;  // where the next Take starts looking, for fairness between connections
};

namespace {

struct State {
  std::mutex m;
  std::map<std::string, std::shared_ptr<Port>> ports;
  std::map<HANDLE, std::shared_ptr<Conn>> handles;
  std::map<HDEVINFO, std::vector<std::wstring>> lists;
  std::map<OVERLAPPED*, Op*> inFlight;
  uintptr_t nextHandle = 0;
  uint64_t nextId = 1;

  std::vector<std::shared_ptr<IoRecord>> log;
  std::vector<fake::OpenRecord> opens;
  fake::Stats stats;

  bool holdWrites = false;
  uint32_t cancelDelayMs = kDefaultCancelDelayMs;
  bool failLists = false;
  bool noDetailSize = false;

  std::deque<std::pair<Clock::time_point, Op*>> cancels;
  std::condition_variable cancelCv;
  bool cancelWorker = false;

  int bindings = 0;
};

// Never destroyed: cancel completions and device threads may outlive static destruction.
State& S() {
  static State* s = new State;
  return *s;
}

std::wstring Widen(const std::string& s) {
  int n = ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  w.resize(w.size() - 1);
  return w;
}

std::string Narrow(const wchar_t* w) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  s.resize(static_cast<size_t>(n - 1));
  return s;
}

void SetInternal(OVERLAPPED* ov, ULONG_PTR v) {
  std::atomic_ref<ULONG_PTR>(ov->Internal).store(v, std::memory_order_release);
}

ULONG_PTR GetInternal(OVERLAPPED* ov) {
  return std::atomic_ref<ULONG_PTR>(ov->Internal).load(std::memory_order_acquire);
}

template <typename T>
void EraseValue(T& c, Op* op) {
  c.erase(std::remove(c.begin(), c.end(), op), c.end());
}

// Ends `op` as the system ends an overlapped operation: byte count, then status, then the
// event. The caller's buffers are not touched after this. Under the lock.
void Complete(State& s, Op* op, uint32_t ntstatus, uint32_t bytes) {
  op->record->finished = true;
  op->record->finishedAt = Clock::now();
  op->record->ntstatus = ntstatus;
  op->record->bytes = bytes;
  if (op->conn) {
    EraseValue(op->conn->reads, op);
    EraseValue(op->conn->requests, op);
  }
  s.inFlight.erase(op->ov);
  op->ov->InternalHigh = bytes;
  SetInternal(op->ov, ntstatus);
  ::SetEvent(op->event);
  ::CloseHandle(op->event);
  delete op;
}

// Registers a new operation on `ov`: status pending, event reset. Null when the caller
// gave no usable OVERLAPPED (the stand-in serves overlapped handles only).
Op* Begin(State& s, IoKind kind, HANDLE file, const std::shared_ptr<Conn>& conn, OVERLAPPED* ov, uint32_t code,
          uint32_t size) {
  if (!ov || !ov->hEvent) return nullptr;
  if (s.inFlight.count(ov)) {
    ++s.stats.reusedOverlapped;
    return nullptr;
  }
  HANDLE dup = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), ov->hEvent, ::GetCurrentProcess(), &dup, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
    return nullptr;
  ov->InternalHigh = 0;
  SetInternal(ov, kStatusPending);
  ::ResetEvent(ov->hEvent);
  auto* op = new Op;
  op->kind = kind;
  op->file = file;
  op->ov = ov;
  op->event = dup;
  op->size = size;
  op->id = s.nextId++;
  op->thread = ::GetCurrentThreadId();
  op->conn = conn;
  op->record = std::make_shared<IoRecord>();
  op->record->kind = kind;
  op->record->handle = reinterpret_cast<uintptr_t>(file);
  op->record->overlapped = ov;
  op->record->code = code;
  op->record->size = size;
  op->record->started = Clock::now();
  s.log.push_back(op->record);
  s.inFlight[ov] = op;
  return op;
}

// Accepts queued writes while the connection has room, in order. Under the lock.
void AcceptWrites(State& s, Conn& c) {
  if (s.holdWrites) return;
  size_t held = 0;
  for (const auto& e : c.fifo)
    if (e.kind == Item::Kind::Out && !e.write) held += e.data.size();
  for (auto& e : c.fifo) {
    if (!e.write) continue;
    Op* op = e.write;
    if (held + op->size > kOutCapacity && held > 0) break;
    e.data.assign(op->src, op->src + op->size);
    e.write = nullptr;
    held += op->size;
    Complete(s, op, 0, op->size);
  }
}

// Ends every operation of `c` that is not being cancelled, with `ntstatus`. Under the lock.
int FailAll(State& s, Conn& c, HANDLE file, uint32_t ntstatus) {
  std::vector<Op*> ops;
  for (auto& [ov, op] : s.inFlight)
    if (op->conn.get() == &c && !op->cancelling && (!file || op->file == file)) ops.push_back(op);
  for (Op* op : ops) Complete(s, op, ntstatus, 0);
  std::erase_if(c.fifo, [](const Entry& e) { return e.write != nullptr; });
  return static_cast<int>(ops.size());
}

void CancelWorker() {
  State& s = S();
  std::unique_lock<std::mutex> g(s.m);
  for (;;) {
    if (s.cancels.empty()) {
      s.cancelCv.wait(g);
      continue;
    }
    auto due = s.cancels.front().first;
    if (Clock::now() < due) {
      s.cancelCv.wait_until(g, due);
      continue;
    }
    Op* op = s.cancels.front().second;
    s.cancels.pop_front();
    Complete(s, op, fake::kStatusCancelled, 0);
  }
}

// Marks `op` as cancelled; it ends a little later on the cancel thread. Under the lock.
void ScheduleCancel(State& s, Op* op) {
  op->cancelling = true;
  op->record->cancelRequested = true;
  op->record->cancelAt = Clock::now();
  if (op->conn) {
    EraseValue(op->conn->reads, op);
    EraseValue(op->conn->requests, op);
    std::erase_if(op->conn->fifo, [op](const Entry& e) { return e.write == op; });
  }
  if (!s.cancelWorker) {
    s.cancelWorker = true;
    std::thread(CancelWorker).detach();
  }
  s.cancels.emplace_back(Clock::now() + std::chrono::milliseconds(s.cancelDelayMs), op);
  s.cancelCv.notify_all();
}

std::shared_ptr<Conn> FindConn(State& s, HANDLE h) {
  auto it = s.handles.find(h);
  return it == s.handles.end() ? nullptr : it->second;
}

BOOL Fail(DWORD err) {
  ::SetLastError(err);
  return FALSE;
}

bool IsProgrammerClass(const GUID* g) {
  return g && std::memcmp(g, &usbio::DeviceInterfaceGuid, sizeof(GUID)) == 0;
}

// ---------------------------------------------------------------- the driver calls

HDEVINFO WINAPI FakeGetClassDevsA(const GUID* classGuid, PCSTR, HWND, DWORD flags) {
  State& s = S();
  std::vector<std::wstring> paths;
  {
    std::lock_guard<std::mutex> g(s.m);
    s.stats.classDevsFlags = flags;
    if (s.failLists || !classGuid) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    if ((flags & DIGCF_DEVICEINTERFACE) && IsProgrammerClass(classGuid)) {
      const std::string dir = BusDirectory();
      std::vector<const Port*> found;
      for (const auto& [path, port] : s.ports)
        if (port->dir == dir && !port->stopped) found.push_back(port.get());
      std::sort(found.begin(), found.end(), [](const Port* a, const Port* b) { return a->name < b->name; });
      for (const Port* p : found) paths.push_back(Widen(p->path));
    }
    auto h = reinterpret_cast<HDEVINFO>(0x5D000000 + 16 * (++s.nextHandle));
    s.lists[h] = std::move(paths);
    ++s.stats.deviceLists;
    return h;
  }
}

BOOL WINAPI FakeEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                                     PSP_DEVICE_INTERFACE_DATA data) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    auto it = s.lists.find(list);
    if (it == s.lists.end()) {
      err = ERROR_INVALID_HANDLE;
    } else if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
      err = ERROR_INVALID_USER_BUFFER;
    } else if (!IsProgrammerClass(guid) || index >= it->second.size()) {
      err = ERROR_NO_MORE_ITEMS;
    } else {
      data->InterfaceClassGuid = *guid;
      data->Flags = SPINT_ACTIVE;
      data->Reserved = index + 1;
    }
  }
  return err ? Fail(err) : TRUE;
}

BOOL WINAPI FakeGetDeviceInterfaceDetailW(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                          PDWORD requiredSize, PSP_DEVINFO_DATA) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    auto it = s.lists.find(list);
    if (it == s.lists.end()) {
      err = ERROR_INVALID_HANDLE;
    } else if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
               data->Reserved > it->second.size()) {
      err = ERROR_INVALID_PARAMETER;
    } else {
      const std::wstring& path = it->second[data->Reserved - 1];
      const DWORD need =
          static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * 2);
      if (requiredSize) *requiredSize = s.noDetailSize ? 0 : need;
      if (!detail) {
        err = detailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER;
      } else if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        err = ERROR_INVALID_USER_BUFFER;
      } else if (detailSize < need) {
        err = ERROR_INSUFFICIENT_BUFFER;
      } else {
        std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * 2);
      }
    }
  }
  return err ? Fail(err) : TRUE;
}

BOOL WINAPI FakeDestroyDeviceInfoList(HDEVINFO list) {
  State& s = S();
  {
    std::lock_guard<std::mutex> g(s.m);
    if (s.lists.erase(list) == 0) return Fail(ERROR_INVALID_HANDLE);
    --s.stats.deviceLists;
  }
  return TRUE;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                              DWORD flags, HANDLE) {
  State& s = S();
  DWORD err = 0;
  HANDLE h = INVALID_HANDLE_VALUE;
  {
    std::lock_guard<std::mutex> g(s.m);
    fake::OpenRecord rec{path ? Narrow(path) : std::string(), access, share, disposition, flags, 0};
    auto it = s.ports.find(rec.path);
    if (!(flags & FILE_FLAG_OVERLAPPED)) {
      err = ERROR_INVALID_PARAMETER;  // only overlapped handles are served
    } else if (disposition != OPEN_EXISTING) {
      err = ERROR_ACCESS_DENIED;
    } else if (it == s.ports.end() || it->second->stopped) {
      err = ERROR_FILE_NOT_FOUND;
    } else {
      auto conn = std::make_shared<Conn>();
      conn->port = it->second.get();
      it->second->conns.push_back(conn);
      h = reinterpret_cast<HANDLE>(0x4E000000 + 16 * (++s.nextHandle));
      s.handles[h] = conn;
      ++s.stats.handlesOpen;
      rec.handle = reinterpret_cast<uintptr_t>(h);
    }
    s.opens.push_back(std::move(rec));
  }
  if (err) ::SetLastError(err);
  return h;
}

BOOL WINAPI FakeCloseHandle(HANDLE h) {
  State& s = S();
  {
    std::lock_guard<std::mutex> g(s.m);
    auto conn = FindConn(s, h);
    if (!conn) {
      ++s.stats.badCloses;
      return Fail(ERROR_INVALID_HANDLE);
    }
    s.handles.erase(h);
    --s.stats.handlesOpen;
    conn->hostOpen = false;
    // Closing cancels what is still pending, as the system does; callers should not leave
    // anything pending, so it is counted.
    s.stats.closedWithPendingIo += FailAll(s, *conn, h, fake::kStatusCancelled);
    conn->in.clear();
    if (Port* p = conn->port) {
      if (p->inConn == conn) p->inConn.reset();
      p->cv.notify_all();
    }
  }
  return TRUE;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED ov) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    auto conn = FindConn(s, h);
    Op* op = nullptr;
    if (!conn) {
      err = ERROR_INVALID_HANDLE;
    } else if (conn->deviceGone) {
      err = ERROR_DEVICE_NOT_CONNECTED;
    } else if (!(op = Begin(s, IoKind::Request, h, conn, ov, code, inSize))) {
      err = ERROR_INVALID_PARAMETER;
    } else {
      op->out = static_cast<uint8_t*>(out);
      op->outSize = out ? outSize : 0;
      Entry e;
      e.kind = Item::Kind::Request;
      e.id = op->id;
      e.code = code;
      if (in && inSize) e.data.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inSize);
      conn->fifo.push_back(std::move(e));
      conn->port->cv.notify_all();
      if (code == usbio::IOCTL_USBIO_UNBIND_PIPE) {
        // The bus does not answer an unbind: it is done once handed to the device.
        Complete(s, op, 0, 0);
        if (returned) *returned = 0;
        return TRUE;
      }
      conn->requests.push_back(op);
      op->record->pending = true;
      err = ERROR_IO_PENDING;
    }
  }
  return Fail(err);
}

BOOL WINAPI FakeReadFile(HANDLE h, LPVOID buf, DWORD size, LPDWORD read, LPOVERLAPPED ov) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    auto conn = FindConn(s, h);
    Op* op = nullptr;
    if (!conn) {
      err = ERROR_INVALID_HANDLE;
    } else if (conn->deviceGone) {
      err = ERROR_DEVICE_NOT_CONNECTED;
    } else if (!(op = Begin(s, IoKind::Read, h, conn, ov, 0, size))) {
      err = ERROR_INVALID_PARAMETER;
    } else {
      op->out = static_cast<uint8_t*>(buf);
      op->outSize = size;
      if (!conn->in.empty()) {
        Bytes t = std::move(conn->in.front());
        conn->in.pop_front();
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(t.size(), size));
        std::memcpy(buf, t.data(), n);
        Complete(s, op, 0, n);
        if (read) *read = n;
        return TRUE;
      }
      conn->reads.push_back(op);
      op->record->pending = true;
      err = ERROR_IO_PENDING;
    }
  }
  return Fail(err);
}

BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID buf, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    auto conn = FindConn(s, h);
    Op* op = nullptr;
    if (!conn) {
      err = ERROR_INVALID_HANDLE;
    } else if (conn->deviceGone) {
      err = ERROR_DEVICE_NOT_CONNECTED;
    } else if (!(op = Begin(s, IoKind::Write, h, conn, ov, 0, size))) {
      err = ERROR_INVALID_PARAMETER;
    } else {
      op->src = static_cast<const uint8_t*>(buf);
      Entry e;
      e.kind = Item::Kind::Out;
      e.write = op;
      conn->fifo.push_back(std::move(e));
      AcceptWrites(s, *conn);
      conn->port->cv.notify_all();
      if (!s.inFlight.count(ov)) {
        if (written) *written = size;
        return TRUE;
      }
      op->record->pending = true;
      err = ERROR_IO_PENDING;
    }
  }
  return Fail(err);
}

BOOL CancelWhere(HANDLE h, OVERLAPPED* only, bool callingThreadOnly) {
  State& s = S();
  DWORD err = 0;
  {
    std::lock_guard<std::mutex> g(s.m);
    if (!FindConn(s, h)) {
      err = ERROR_INVALID_HANDLE;
    } else {
      std::vector<Op*> ops;
      for (auto& [ov, op] : s.inFlight)
        if (op->file == h && !op->cancelling && (!only || ov == only) &&
            (!callingThreadOnly || op->thread == ::GetCurrentThreadId()))
          ops.push_back(op);
      for (Op* op : ops) ScheduleCancel(s, op);
      if (ops.empty()) err = ERROR_NOT_FOUND;
    }
  }
  return err ? Fail(err) : TRUE;
}

BOOL WINAPI FakeCancelIo(HANDLE h) { return CancelWhere(h, nullptr, true); }

BOOL WINAPI FakeCancelIoEx(HANDLE h, LPOVERLAPPED ov) { return CancelWhere(h, ov, false); }

DWORD ToWin32Error(ULONG_PTR st) {
  switch (st) {
    case fake::kStatusCancelled:
      return ERROR_OPERATION_ABORTED;
    case fake::kStatusDeviceNotConnected:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return static_cast<DWORD>(st);  // the driver's own status, as it reported it
  }
}

BOOL WINAPI FakeGetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD bytes, BOOL wait) {
  ULONG_PTR st = GetInternal(ov);
  if (st == kStatusPending) {
    if (!wait) return Fail(ERROR_IO_INCOMPLETE);
    if (::WaitForSingleObject(ov->hEvent, INFINITE) != WAIT_OBJECT_0) return FALSE;
    st = GetInternal(ov);
  }
  if (bytes) *bytes = static_cast<DWORD>(ov->InternalHigh);
  return st == 0 ? TRUE : Fail(ToWin32Error(st));
}

const usbio::win32::DriverCalls kFakeCalls = {
    FakeGetClassDevsA, FakeEnumDeviceInterfaces, FakeGetDeviceInterfaceDetailW, FakeDestroyDeviceInfoList,
    FakeCreateFileW,   FakeCloseHandle,          FakeDeviceIoControl,           FakeReadFile,
    FakeWriteFile,     FakeCancelIo,             FakeCancelIoEx,                FakeGetOverlappedResult,
};

}  // namespace

// ---------------------------------------------------------------- device side

std::shared_ptr<Port> Plug(const std::string& dir, const std::string& name, const std::string& path) {
  auto port = std::make_shared<Port>();
  port->dir = dir;
  port->name = name;
  port->path = path;
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.ports[path] = port;
  return port;
}

void Unplug(Port& port) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  if (port.stopped) return;
  port.stopped = true;
  auto it = s.ports.find(port.path);
  if (it != s.ports.end() && it->second.get() == &port) s.ports.erase(it);
  for (auto& c : port.conns) {
    c->deviceGone = true;
    FailAll(s, *c, nullptr, fake::kStatusDeviceNotConnected);
    c->fifo.clear();
    c->in.clear();
    c->port = nullptr;
  }
  port.conns.clear();
  port.inConn.reset();
  port.cv.notify_all();
}

TakeResult Take(Port& port, const std::atomic<bool>& stallOut, Item& item) {
  State& s = S();
  std::unique_lock<std::mutex> g(s.m);
  const auto deadline = Clock::now() + std::chrono::milliseconds(20);
  for (;;) {
    if (port.stopped) return TakeResult::Stopped;
    // Connections the host has closed go once the device has taken what they carried.
    std::erase_if(port.conns, [](const std::shared_ptr<Conn>& c) {
      return !c->hostOpen && std::none_of(c->fifo.begin(), c->fifo.end(), [](const Entry& e) { return !e.write; });
    });
    const size_t n = port.conns.size();
    for (size_t k = 0; k < n; ++k) {
      const size_t i = (port.next + k) % n;
      auto& c = port.conns[i];
      if (stallOut.load() && c->endpoint == usbio::kEndpointOut) continue;
      auto e = std::find_if(c->fifo.begin(), c->fifo.end(), [](const Entry& x) { return !x.write; });
      if (e == c->fifo.end()) continue;
      item.kind = e->kind;
      item.conn = c;
      item.endpoint = c->endpoint;
      item.id = e->id;
      item.code = e->code;
      item.data = std::move(e->data);
      c->fifo.erase(e);
      AcceptWrites(s, *c);  // room freed
      port.next = i + 1;
      return TakeResult::Got;
    }
    if (port.cv.wait_until(g, deadline) == std::cv_status::timeout) return TakeResult::Idle;
  }
}

void Answer(const Item& item, uint32_t status, const std::vector<uint8_t>& output) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  auto& reqs = item.conn->requests;
  auto it = std::find_if(reqs.begin(), reqs.end(), [&](const Op* op) { return op->id == item.id; });
  if (it == reqs.end()) return;  // cancelled, closed or unplugged meanwhile
  Op* op = *it;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(output.size(), op->outSize));
  if (n) std::memcpy(op->out, output.data(), n);
  Complete(s, op, status, n);
}

void SetEndpoint(Port& port, Conn& conn, uint8_t endpoint) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  conn.endpoint = endpoint;
  if (endpoint == usbio::kEndpointIn && conn.hostOpen && !conn.deviceGone) {
    for (auto& c : port.conns)
      if (c.get() == &conn) port.inConn = c;
  } else if (port.inConn.get() == &conn) {
    port.inConn.reset();
  }
}

bool SendIn(Port& port, std::span<const uint8_t> transfer) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  auto c = port.inConn;
  if (port.stopped || !c || !c->hostOpen) return false;
  if (!c->reads.empty()) {
    Op* op = c->reads.front();
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(transfer.size(), op->outSize));
    std::memcpy(op->out, transfer.data(), n);
    Complete(s, op, 0, n);
  } else {
    c->in.emplace_back(transfer.begin(), transfer.end());
  }
  return true;
}

bool InBound(Port& port) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.m);
  return !port.stopped && port.inConn != nullptr;
}

}  // namespace membus

// ---------------------------------------------------------------- test side

namespace fake {

using membus::S;

Binding::Binding() {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  if (s.bindings++ == 0) {
    s.log.clear();
    s.opens.clear();
    const int lists = s.stats.deviceLists, open = s.stats.handlesOpen, flight = static_cast<int>(s.inFlight.size());
    s.stats = Stats{};
    s.stats.deviceLists = lists;
    s.stats.handlesOpen = open;
    s.stats.inFlight = flight;
    s.holdWrites = false;
    s.cancelDelayMs = membus::kDefaultCancelDelayMs;
    s.failLists = false;
    s.noDetailSize = false;
    usbio::win32::SetDriverCalls(&membus::kFakeCalls);
  }
}

Binding::~Binding() {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  if (--s.bindings == 0) usbio::win32::SetDriverCalls(nullptr);
}

std::vector<IoRecord> IoLog() {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  std::vector<IoRecord> r;
  for (const auto& p : s.log) r.push_back(*p);
  return r;
}

std::vector<OpenRecord> Opens() {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  return s.opens;
}

Stats GetStats() {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  Stats st = s.stats;
  st.inFlight = static_cast<int>(s.inFlight.size());
  return st;
}

void HoldWrites(bool hold) {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.holdWrites = hold;
  if (!hold)
    for (auto& [h, c] : s.handles) {
      membus::AcceptWrites(s, *c);
      if (c->port) c->port->cv.notify_all();
    }
}

void SetCancelDelayMs(uint32_t ms) {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.cancelDelayMs = ms;
}

void FailDeviceLists(bool fail) {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.failLists = fail;
}

void ReportNoDetailSize(bool noSize) {
  auto& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.noDetailSize = noSize;
}

}  // namespace fake

}  // namespace nurva::vusb
