// The link to one programmer: its device and pipe objects, a receive thread that queues
// every IN packet, and the send and receive primitives the commands are built from.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/uGlobals.h"
#include "transport/Framing.h"
#include "transport/MsgQueue.h"
#include "usbio/OsThread.h"
#include "usbio/OsWait.h"
#include "usbio/USBIO.h"
#include "usbio/UsbIoPipe.h"

namespace nurva {

class TUSBRdrLst;

// Time limits of the link, in ms.
inline constexpr uint32_t kDefaultRxTimeOutMs = 2000;
inline constexpr uint32_t kIoctlTimeOutMs = 2000;
inline constexpr uint32_t kWriteTimeOutMs = 2000;
inline constexpr uint32_t kIdlePollMs = 20;
inline constexpr uint32_t kPacketPauseMs = 3;

inline constexpr intptr_t kNoHandle = -1;

class TUSBreader {
 public:
  explicit TUSBreader(TUSBRdrLst* AOwner);
  // Stops the receive thread (terminating it first when nobody has) and releases the device.
  virtual ~TUSBreader();
  TUSBreader(const TUSBreader&) = delete;
  TUSBreader& operator=(const TUSBreader&) = delete;

  // Thread control: Terminate tells the receive loop to end, WaitFor waits until it has.
  void Terminate();
  void WaitFor();
  // Ends the receive thread while the library is being unloaded (see TOsThread).
  void StopForUnload();
  bool Terminated() const { return FTerminated.load(); }

  bool Connect(int32_t Index);
  void Disconnect();
  bool Connected() const { return FUSBHandle != kNoHandle; }

  void FlushBuffer();
  void SetRXTimeOut(uint32_t ms) { FRxTimeOut = ms; }
  uint32_t RxTimeOut() const { return FRxTimeOut; }
  std::string GetSerNum() const;

  bool TxCmd(TCmdTyp cTyp, char ch);
  bool TxChar(char c);
  bool TxByte(uint8_t b);
  bool TxLongWord(int32_t L);
  bool TxString(const TString64& st);

  bool RxBlock(void* Value, uint16_t& Count);
  bool RxChar(char& ch);
  bool RxWord(uint16_t& w);
  bool RxString(TString64& st);

  bool SendVendorRequest();

  // ---- commands (one source per family under commands/) ----
  // Programmer check and target control.
  std::string DoCheckProgrammer(int32_t& res);
  std::string DoInitChannel(int32_t& res);
  std::string DoReleaseTarget(int32_t& res);
  std::string DoCheckDevice(int32_t& res);
  std::string DoGetTargVolt(int32_t& Volt, int32_t& res);
  std::string DoGetFuse(char selfuse, int32_t& fuse, int32_t& res);
  // Project files on the card (ProjFiles.cpp).
  // Project parameters report (ProjParams.cpp).
  // Project file download (ProjDownload.cpp).
  // Erase, program and verify; progress status (ProgJobs.cpp, ProgStatus.cpp).
  // Block transfers and read back (BlockTransfer.cpp, ReadBack.cpp).

  int32_t Index() const { return FIndex; }
  uint32_t Status() const { return FStatus; }
  TUSBRdrLst* Owner() const { return FOwner; }

  // ---- state shared with the commands ----
  TDeviceRec FDeviceRec{};
  char FlastStat = 0;
  std::string Msg;
  TPrgResult Fres = TPrgResult::noProg;
  bool stopped = false;
  TOpMode OpMode = TOpMode::opIdle;
  uint8_t FTxBlock[1025] = {};
  int32_t FTxCount = 0;
  TAES AEStyp{};
  int32_t aQuantity = 0;
  // Set while an exported call runs a command on this link.
  std::atomic<bool> busy{false};

 protected:
  // Common first step of the device commands: false (text "TESK not found", res noProg)
  // while no programmer is usable on the link; then nothing may be sent.
  bool PresenceCheck(std::string& text, int32_t& res) const;

  // The wait every command shares: up to `attempts` tries of `receive` (a primitive that
  // returns true when its packet came), each after a pause of `pauseMs`; true at the first
  // try that received. A command sends first, then waits here for its reply.
  template <class Receive>
  bool AwaitReply(int attempts, uint32_t pauseMs, Receive&& receive) {
    for (int i = 0; i < attempts; ++i) {
      if (pauseMs != 0) usbio::SleepMs(pauseMs);
      if (receive()) return true;
    }
    return false;
  }

  // A command's own receive limit: set for the scope, the standing limit put back after.
  class RxLimit {
   public:
    RxLimit(TUSBreader& link, uint32_t ms) : link_(link) { link_.SetRXTimeOut(ms); }
    ~RxLimit() { link_.SetRXTimeOut(kDefaultRxTimeOutMs); }
    RxLimit(const RxLimit&) = delete;
    RxLimit& operator=(const RxLimit&) = delete;

   private:
    TUSBreader& link_;
  };

  // Primitives for the commands.
  bool TxPacket(const void* Data, uint16_t Size);
  bool TxWord(uint16_t w);
  void FlushTxBlock();
  bool RxPacket(void* Value, uint16_t& Size);
  bool WritePipe(const void* Buf, uint16_t Size, uint32_t& Written);
  bool IoctlWait(usbio::TUsbIo& dev, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t& bytesReturned);

 private:
  void Execute();
  void PushPacket(uint16_t Size);
  // Ends the receive loop's use of the IN pipe; returns when it no longer reads from it.
  void StopReading();
  void CloseHandles();

  TUSBRdrLst* FOwner;
  int32_t FIndex = -1;
  intptr_t FUSBHandle = kNoHandle;
  std::unique_ptr<usbio::TUsbIo> FUSBDev;
  std::unique_ptr<usbio::TUsbIoPipe> FPipeIn;
  std::unique_ptr<usbio::TUsbIoPipe> FPipeOut;
  uint32_t FStatus = 0;
  usbio::TDeviceList* FUSBDevList = nullptr;
  usbio::USBIO_SET_CONFIGURATION FConf{};
  TMsgQueue FDataQueue;
  usbio::TSimpleEvent FStopEvent;
  uint8_t FBuffer[kFrameBufferSize] = {};
  uint32_t FTimeOutMS = kIoctlTimeOutMs;
  uint32_t FRxTimeOut = kDefaultRxTimeOutMs;
  uint32_t nWritten = 0;
  usbio::TUsbIoOverlapped FWriteOv;
  usbio::TUsbIoOverlapped FIoctlOv;

  // Agreement between the calling thread and the receive loop about the IN pipe: the loop
  // reads only while FInActive is set, and Disconnect waits until it has stopped reading.
  std::mutex FIoLock;
  std::condition_variable FIoCv;
  bool FInActive = false;
  bool FLoopReading = false;
  usbio::TSimpleEvent FWakeEvent;

  std::atomic<bool> FTerminated{false};
  usbio::TOsThread FThread;
};

}  // namespace nurva
