#include "transport/URecBufMulti.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace nurva {

using namespace usbio;

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so a limit of n ms is never cut short by the part of a millisecond gone.
uint32_t MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0u : static_cast<uint32_t>(left);
}

// Waits for a pending operation of `ov` until `deadline`. True with `bytes` when it
// finished successfully; false when it failed (status set) or the time ran out
// (status kErrWaitTimeout, the operation cancelled and finished).
bool FinishWithin(TUsbIoOverlapped& ov, Clock::time_point deadline, uint32_t& bytes, uint32_t& status) {
  for (;;) {
    WaitItem it = ov.Item();
    int w = WaitForAny(&it, 1, MsLeft(deadline));
    if (w == 0) {
      if (ov.GetResult(bytes, status)) return true;
      if (status != kErrIoIncomplete) return false;
      if (MsLeft(deadline) > 0) continue;
    }
    ov.Cancel();
    status = w == kWaitFailed ? kErrOperationAborted : kErrWaitTimeout;
    return false;
  }
}

}  // namespace

TUSBreader::TUSBreader(TUSBRdrLst* AOwner) : FOwner(AOwner) {
  if (!FStopEvent.Valid() || !FWakeEvent.Valid() || !FReadyEvent.Valid() || !FThread.Start([this] { Execute(); }))
    throw std::runtime_error("cannot start the receive thread");
}

TUSBreader::~TUSBreader() {
  FStopEvent.SetEvent();
  std::this_thread::yield();
  if (!FTerminated.load()) Terminate();
  // The loop is joined before any handle is closed, so no read runs on a closed handle
  // even when the owner frees the link without terminating it first.
  WaitFor();
  CloseHandles();
}

void TUSBreader::Terminate() {
  FTerminated.store(true);
  FStopEvent.SetEvent();
}

void TUSBreader::WaitFor() { FThread.Join(); }

bool TUSBreader::StopForUnload(uint32_t ms) {
  Terminate();
  return FThread.StopForUnload(ms);
}

void TUSBreader::ReleaseAfterCutOff(uint32_t readWaitMs) {
  if (FReadOv.InFlight()) {
    WaitItem it = FReadOv.Item();
    WaitForAny(&it, 1, readWaitMs);
    uint32_t bytes = 0, status = 0;
    FReadOv.GetResult(bytes, status);  // still in flight: the handle's close ends it
  }
  // FIoLock and FLoopReading are the dead thread's to leave as they are: the pipes are
  // taken and closed without them. No unbind request: the close ends the binding.
  if (FUSBDev) FUSBDev->Close();
  if (FPipeIn) FPipeIn->Close();
  if (FPipeOut) FPipeOut->Close();
  if (FUSBDevList) {
    TUsbIo::DestroyDeviceList(FUSBDevList);
    FUSBDevList = nullptr;
  }
  FUSBHandle = kNoHandle;
}

// ---------------------------------------------------------------- receive loop

void TUSBreader::Execute() {
  SetCurrentThreadPriorityLowest();
  TUsbIoOverlapped& ov = FReadOv;
  bool leave = false;
  while (!leave && !FTerminated.load()) {
    TUsbIoPipe* in = nullptr;
    {
      std::lock_guard<std::mutex> g(FIoLock);
      if (FInActive && FPipeIn && !FDeviceGone.load()) {
        in = FPipeIn.get();
        FLoopReading = true;
      }
    }
    if (!in) {
      WaitItem items[2] = {FStopEvent.Item(), FReadyEvent.Item()};
      if (WaitForAny(items, 2, kIdlePollMs) == 1) FReadyEvent.ResetEvent();
      continue;
    }

    std::memset(FBuffer, 0, sizeof FBuffer);
    uint32_t bytes = 0;
    uint32_t status = 0;
    switch (in->StartRead(FBuffer, kMaxTransferSize, ov, bytes, status)) {
      case IoStart::Completed:
        if (bytes > 2) {
          PushPacket(static_cast<uint16_t>(bytes));
          PauseAfterPacket();
        }
        break;
      case IoStart::Failed:
        NoteFailure(status);
        // A read that fails at once (an unplugged device) would otherwise be reissued in a
        // tight loop until the link is disconnected.
        {
          WaitItem items[2] = {FStopEvent.Item(), FWakeEvent.Item()};
          WaitForAny(items, 2, kIdlePollMs);
        }
        break;
      case IoStart::Pending: {
        WaitItem items[3] = {FStopEvent.Item(), ov.Item(), FWakeEvent.Item()};
        for (;;) {
          int w = WaitForAny(items, 3, kInfinite);
          if (w == 0) {
            ov.Cancel();
            FStopEvent.ResetEvent();
            leave = true;
          } else if (w == 1) {
            if (FTerminated.load()) {
              ov.Cancel();
            } else if (ov.GetResult(bytes, status)) {
              if (bytes > 2) {
                PushPacket(static_cast<uint16_t>(bytes));
                PauseAfterPacket();
              }
            } else if (status == kErrIoIncomplete) {
              continue;  // woken without a completed transfer: keep waiting
            } else {
              NoteFailure(status);
            }
          } else if (w == 2) {
            ov.Cancel();  // Disconnect wants the pipe back
          } else {
            ov.Cancel();
            SleepAlertableMs(kPacketPauseMs);
          }
          break;
        }
        break;
      }
    }

    {
      std::lock_guard<std::mutex> g(FIoLock);
      FLoopReading = false;
    }
    FIoCv.notify_all();
  }
}

void TUSBreader::PushPacket(uint16_t Size) { FDataQueue.Push(FBuffer, Size); }

// The handles stay open: the receive loop stops reading, a command in progress ends at its
// next send or wait, and Disconnect closes them once no I/O is in flight.
void TUSBreader::NoteFailure(uint32_t status) {
  if (IsDeviceGone(status)) FDeviceGone.store(true);
}

// The receive loop's pause after each inbound packet; a stop ends it early.
void TUSBreader::PauseAfterPacket() {
  if (TTimeSeam* seam = CurrentTimeSeam()) {
    seam->Pause(kPacketPauseMs);
    return;
  }
  FStopEvent.WaitFor(kPacketPauseMs);
}

void TUSBreader::StopReading() {
  std::unique_lock<std::mutex> g(FIoLock);
  FInActive = false;
  if (FLoopReading) {
    FWakeEvent.SetEvent();
    // The loop answers the wake event at once; the slices only guard against a loop that
    // has ended in the meantime.
    while (FLoopReading) FIoCv.wait_for(g, std::chrono::milliseconds(50));
  }
  FWakeEvent.ResetEvent();
}

// ---------------------------------------------------------------- connection

bool TUSBreader::Connect(int32_t Index) {
  if (FUSBHandle != kNoHandle) {
    Disconnect();
    return false;
  }
  Fres = TPrgResult::noProg;
  OpMode = TOpMode::opIdle;
  FIndex = Index;
  FUSBHandle = kNoHandle;

  CloseHandles();
  FDeviceGone.store(false);
  FUSBDev = std::make_unique<TUsbIo>();
  FUSBDevList = TUsbIo::CreateDeviceList(&DeviceInterfaceGuid);

  FStatus = FUSBDev->Open(Index, FUSBDevList, &DeviceInterfaceGuid);
  if (FStatus != 0) {
    Disconnect();
    return false;
  }
  FUSBHandle = reinterpret_cast<intptr_t>(FUSBDev.get());

  std::memset(&FConf, 0, sizeof FConf);
  FConf.ConfigurationIndex = 0;
  FConf.NbOfInterfaces = 1;
  FConf.InterfaceList[0].InterfaceIndex = 0;
  FConf.InterfaceList[0].AlternateSettingIndex = 0;
  FConf.InterfaceList[0].MaximumTransferSize = kMaxTransferSize;
  FStatus = FUSBDev->SetConfiguration(&FConf);  // kept, does not stop the connection

  auto bindPipe = [&](std::unique_ptr<TUsbIoPipe>& pipe, uint8_t ep) {
    auto p = std::make_unique<TUsbIoPipe>();
    p->Unbind();  // no-op on an object that is not open
    FStatus = p->Bind(Index, ep, FUSBDevList, &DeviceInterfaceGuid);
    std::lock_guard<std::mutex> g(FIoLock);
    pipe = std::move(p);
    return FStatus == 0;
  };
  if (!bindPipe(FPipeIn, kEndpointIn) || !bindPipe(FPipeOut, kEndpointOut)) {
    Disconnect();
    return false;
  }

  {
    std::lock_guard<std::mutex> g(FIoLock);
    FInActive = true;
  }
  FReadyEvent.SetEvent();
  Fres = TPrgResult::progFound;
  FlushBuffer();
  return true;
}

void TUSBreader::CloseHandles() {
  StopReading();
  std::unique_ptr<TUsbIoPipe> in, out;
  {
    std::lock_guard<std::mutex> g(FIoLock);
    in = std::move(FPipeIn);
    out = std::move(FPipeOut);
  }
  if (FUSBDev) FUSBDev->Close();
  if (in) {
    if (in->IsOpen()) in->Unbind();
    in->Close();
  }
  if (out) {
    if (out->IsOpen()) out->Unbind();
    out->Close();
  }
  FUSBDev.reset();
  if (FUSBDevList) {
    TUsbIo::DestroyDeviceList(FUSBDevList);
    FUSBDevList = nullptr;
  }
  FUSBHandle = kNoHandle;
}

void TUSBreader::Disconnect() {
  try {
    CloseHandles();
  } catch (...) {
    // Closing must always leave the link disconnected.
  }
  FUSBHandle = kNoHandle;
  Fres = TPrgResult::noProg;
  busy.store(false);
}

void TUSBreader::FlushBuffer() { FDataQueue.Clear(); }

bool TUSBreader::PresenceCheck(std::string& text, int32_t& res) const {
  if (!FDeviceGone.load() && Fres != TPrgResult::resNone && Fres != TPrgResult::noProg) return true;
  text = "TESK not found";
  res = Ord(TPrgResult::noProg);
  return false;
}

std::string TUSBreader::GetSerNum() const {
  uint32_t sn = FDeviceRec.SerNum;
  if (sn == 0) return {};
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", sn);
  return buf;
}

// ---------------------------------------------------------------- sending

bool TUSBreader::WritePipe(const void* Buf, uint16_t Size, uint32_t& Written) {
  nWritten = 0;
  bool ok = false;
  if (FPipeOut && FWriteOv.Valid()) {
    uint32_t status = 0;
    uint32_t bytes = 0;
    switch (FPipeOut->StartWrite(Buf, Size, FWriteOv, bytes, status)) {
      case IoStart::Completed:
        ok = true;
        break;
      case IoStart::Pending:
        ok = FinishWithin(FWriteOv, Clock::now() + std::chrono::milliseconds(kWriteTimeOutMs), bytes, status);
        break;
      case IoStart::Failed:
        break;
    }
    if (ok)
      nWritten = bytes;
    else
      NoteFailure(status);
  }
  Written = nWritten;
  return ok;
}

bool TUSBreader::TxPacket(const void* Data, uint16_t Size) {
  if (Size == 0) return true;
  if (!Connected()) return false;
  uint8_t frame[kFrameBufferSize];
  size_t len = BuildFrame(Data, Size, frame);
  if (len == 0) return false;  // larger than a frame holds
  try {
    size_t sent = 0;
    while (sent < len) {
      uint32_t written = 0;
      if (!WritePipe(frame + sent, static_cast<uint16_t>(len - sent), written)) return false;
      // A write that reports success with nothing written would repeat without end.
      if (written == 0) return false;
      sent += written < len - sent ? written : len - sent;
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool TUSBreader::TxCmd(TCmdTyp cTyp, char ch) {
  const uint8_t p[2] = {static_cast<uint8_t>(cTyp), static_cast<uint8_t>(ch)};
  return TxPacket(p, 2);
}

bool TUSBreader::TxChar(char c) { return TxPacket(&c, 1); }

bool TUSBreader::TxByte(uint8_t b) { return TxPacket(&b, 1); }

bool TUSBreader::TxWord(uint16_t w) {
  const uint8_t p[2] = {static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>(w >> 8)};
  return TxPacket(p, 2);
}

bool TUSBreader::TxLongWord(int32_t L) {
  const auto u = static_cast<uint32_t>(L);
  const uint8_t p[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                        static_cast<uint8_t>(u >> 24)};
  return TxPacket(p, 4);
}

bool TUSBreader::TxString(const TString64& st) {
  const uint8_t k = st.len < TString64::kCapacity ? st.len : static_cast<uint8_t>(TString64::kCapacity);
  if (!TxWord(static_cast<uint16_t>(k + 1))) return false;
  uint8_t p[1 + TString64::kCapacity];
  p[0] = k;
  std::memcpy(p + 1, st.chars, k);
  return TxPacket(p, static_cast<uint16_t>(k + 1));
}

void TUSBreader::FlushTxBlock() {
  int32_t n = FTxCount;
  if (n < 0) n = 0;
  if (n > static_cast<int32_t>(sizeof FTxBlock)) n = sizeof FTxBlock;
  TxPacket(FTxBlock, static_cast<uint16_t>(n));
  FTxCount = 0;
}

// ---------------------------------------------------------------- receiving

bool TUSBreader::RxPacket(void* Value, uint16_t& Size) {
  const uint16_t capacity = Size;
  if (FDataQueue.Count() > 0) {
    FDataQueue.Pop(Value, Size);
    return true;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(FRxTimeOut);
  TTimeSeam* seam = CurrentTimeSeam();
  for (;;) {
    // Nothing more comes from a gone device; the packets it sent before are taken above.
    if (FDeviceGone.load() && FDataQueue.Count() == 0) {
      Size = 0;
      return false;
    }
    const uint32_t left = MsLeft(deadline);
    bool got;
    if (seam) {
      got = seam->AwaitPacket(FDataQueue, left);
    } else {
      // In slices, so that an unplug during the wait ends it within one slice.
      got = FDataQueue.Event().WaitFor(left < kIdlePollMs ? left : kIdlePollMs);
      if (!got && MsLeft(deadline) > 0) continue;
    }
    if (!got) {
      Size = 0;
      return false;
    }
    if (FDataQueue.Count() > 0) {
      Size = capacity;
      FDataQueue.Pop(Value, Size);
      return Size > 0;
    }
    // Woken for a packet that is already gone: wait for the rest of the time.
  }
}

bool TUSBreader::RxChar(char& ch) {
  stopped = false;
  ch = kNAK;
  uint8_t b = 0;
  uint16_t size = 1;
  if (RxPacket(&b, size) && size == 1) {
    ch = static_cast<char>(b);
    return true;
  }
  ch = kNAK;
  stopped = true;
  return false;
}

bool TUSBreader::RxWord(uint16_t& w) {
  uint8_t b[2] = {0, 0};
  uint16_t size = 2;
  bool ok = RxPacket(b, size);
  if (size >= 1) w = static_cast<uint16_t>((w & 0xFF00) | b[0]);
  if (size == 2) w = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return ok && size == 2;
}

bool TUSBreader::RxString(TString64& st) {
  std::memset(&st, 0, sizeof st);
  uint16_t size = sizeof st;
  bool ok = RxPacket(&st, size);
  // A length byte beyond the capacity would let readers run past the string.
  if (st.len > TString64::kCapacity) st.len = static_cast<uint8_t>(TString64::kCapacity);
  return ok;
}

bool TUSBreader::RxBlock(void* Value, uint16_t& Count) { return RxPacket(Value, Count); }

// ---------------------------------------------------------------- driver requests

bool TUSBreader::IoctlWait(TUsbIo& dev, uint32_t code, const void* in, uint32_t inSize, void* out,
                           uint32_t outSize, uint32_t& bytesReturned) {
  bytesReturned = 0;
  if (!FIoctlOv.Valid()) return false;
  uint32_t status = 0;
  uint32_t bytes = 0;
  bool ok = false;
  switch (dev.StartIoctl(code, in, inSize, out, outSize, FIoctlOv, bytes, status)) {
    case IoStart::Completed:
      ok = true;
      break;
    case IoStart::Pending:
      FStatus = kErrIoPending;
      ok = FinishWithin(FIoctlOv, Clock::now() + std::chrono::milliseconds(FTimeOutMS), bytes, status);
      if (!ok && status != kErrWaitTimeout) FStatus = status;
      break;
    case IoStart::Failed:
      FStatus = status;
      break;
  }
  if (!ok) NoteFailure(status);
  bytesReturned = bytes;
  return ok;
}

bool TUSBreader::SendVendorRequest() {
  static constexpr USBIO_CLASS_OR_VENDOR_REQUEST kVendorRequest = {
      1, RequestTypeVendor, RecipientDevice, 0, 1, 0, 0};
  if (!FUSBDev || !FUSBDev->IsOpen()) return false;
  uint32_t returned = 0;
  return IoctlWait(*FUSBDev, IOCTL_USBIO_CLASS_OR_VENDOR_OUT_REQUEST, &kVendorRequest, sizeof kVendorRequest,
                   nullptr, 0, returned);
}

}  // namespace nurva
