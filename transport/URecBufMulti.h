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
#include "transport/TimeSeam.h"
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
  // Ends the receive thread while the library is being unloaded, waiting at most `ms` for
  // its body (see TOsThread::StopForUnload). False when the thread had to be cut off: then
  // the link must not be freed or disconnected, only ReleaseAfterCutOff'd.
  bool StopForUnload(uint32_t ms);
  // After the receive thread was cut off: gives its read at most `readWaitMs` to end and
  // closes the device handles, without waiting for anything that thread would have
  // cleared and without taking a lock it may have held. The link's memory stays (a read
  // still in flight may target its buffer): the caller leaks the object.
  void ReleaseAfterCutOff(uint32_t readWaitMs);
  bool Terminated() const { return FTerminated.load(); }

  bool Connect(int32_t Index);
  void Disconnect();
  // An open device whose pipes have not reported it gone.
  bool Connected() const { return FUSBHandle != kNoHandle && !FDeviceGone.load(); }
  // Set once a transfer failed because the device was unplugged; only the next Connect
  // (a new discovery) clears it. Until then the link counts as having no programmer.
  bool DeviceGone() const { return FDeviceGone.load(); }

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
  std::string DoGetProjNames(int32_t& res);
  std::string DoCheckFile(const std::string& FName, int32_t& res);
  std::string DoOpenAFile(const std::string& FName, int32_t& res);
  std::string DoCloseAFile(int32_t& res);
  std::string DoDeleteFile(const std::string& DelFName, int32_t& res);
  std::string DoGetFileState(int32_t& res);
  // Project parameters report (ProjParams.cpp).
  std::string DoGetProjParams(const std::string& FName, int32_t& res);
  // Project file download (ProjDownload.cpp).
  std::string DoDownLdFile(const std::string& FName, int32_t& res);
  // Erase, program and verify; progress status (ProgJobs.cpp, ProgStatus.cpp).
  std::string DoEraseDevice(int32_t& res);
  std::string DoEraseDeviceX(int32_t& res);
  std::string DoEraseDeviceUsr(int32_t& res);
  std::string DoProgDevice(int32_t& res);
  std::string DoProgEEprom(int32_t& res);
  std::string DoProgFlash(int32_t& res);
  std::string DoProgUsrRow(int32_t& res);
  std::string DoProgFuses(int32_t& res);
  std::string DoProgLockBits(int32_t& res);
  std::string DoVerifyDevice(int32_t& res);
  std::string DoVerifyEEpromOnly(int32_t& res);
  std::string DoVerifyFlashOnly(int32_t& res);
  // One row of the table that drives the twelve commands above, and its exchange.
  struct TJobCommand;
  std::string RunJobCommand(const TJobCommand& cmd, int32_t& res);
  // The programmer's answer to a program or verify start, read with a 3000 ms limit.
  std::string WaitProgResult(int32_t& res);
  // Takes the next status of a running job (or a run of equal ones) from the queue.
  void DoProgStatus();
  // Packets waiting in the receive queue.
  int32_t QueuedPackets() const { return FDataQueue.Count(); }
  // Block transfers and read back (BlockTransfer.cpp, ReadBack.cpp).
  std::string DoDownProgBlockF(const uint8_t* Block, int32_t dest, int32_t& res);
  std::string DoDownProgBlockE(const uint8_t* Block, int32_t dest, int32_t Count, int32_t& res);
  std::string DoDownProgBlockU(const uint8_t* Block, int32_t dest, int32_t& res);
  std::string DoDownProgBlock(char letter, TPrgResult errCode, const uint8_t* Block, int32_t dest, int32_t Count,
                              int32_t& res);
  std::string DoDownOverBlock(tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count, int32_t& res);
  std::string DoDownFileBlock(tMemType MemType, const uint8_t* Block, int32_t dest, int32_t Count, int32_t& res);
  std::string DoUpFileBlock(tMemType MemType, uint8_t* Block, int32_t dest, int32_t Count, int32_t& res);
  std::string DoReadBackChipF(uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res);
  std::string DoReadBackChipE(uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount, int32_t& res);
  std::string DoReadBackChipU(uint8_t* pDestAddr, int32_t ChipAddr, int32_t& res);
  std::string DoReadBackChip(char letter, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount, int32_t& res);
  // Shared by the block commands: the 'Q' 'u' opening, and a block's data with its checksum.
  bool BlockOpening(bool markAbsent, bool pause, std::string& text, int32_t& res);
  void TxBlockData(const uint8_t* Block, int32_t Count);

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
      if (pauseMs != 0) LinkPause(pauseMs);
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
  void PauseAfterPacket();
  // Marks the device gone when `status` (of a failed transfer or request) says so.
  void NoteFailure(uint32_t status);
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
  // The receive loop's read; a member so that a read left in flight by a thread that was
  // cut off still has its record.
  usbio::TUsbIoOverlapped FReadOv;

  // Agreement between the calling thread and the receive loop about the IN pipe: the loop
  // reads only while FInActive is set, and Disconnect waits until it has stopped reading.
  std::mutex FIoLock;
  std::condition_variable FIoCv;
  bool FInActive = false;
  bool FLoopReading = false;
  usbio::TSimpleEvent FWakeEvent;
  // Set by Connect once the IN pipe may be read, so an idle loop starts reading at once
  // instead of at its next poll (the first reply would otherwise wait up to 20 ms).
  usbio::TSimpleEvent FReadyEvent;

  std::atomic<bool> FTerminated{false};
  // Written by whichever thread sees the failure (the receive loop, or a calling thread's
  // write); read by both.
  std::atomic<bool> FDeviceGone{false};
  usbio::TOsThread FThread;
};

}  // namespace nurva
