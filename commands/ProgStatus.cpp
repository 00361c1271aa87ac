// Progress status: the characters a programmer sends on its own while a job runs, turned
// into the link's status text and code.
#include "transport/RdrList.h"

namespace nurva {

namespace {

constexpr uint32_t kStatusWaitMs = 50;
// Further equal statuses one call passes over, and packets dropped after "Verify error".
constexpr int kMaxRunCollapse = 100;
constexpr int kMaxVerifyDrain = 20;

constexpr char kStatusVerifyError = 0x06;

// The status of a link whose programmer has been unplugged (the presence check's text).
constexpr const char* kGoneText = "TESK not found";

// Final and error statuses: text, code, and whether the job is over.
struct FixedStatus {
  char status;
  const char* msg;
  TPrgResult res;
  bool endsJob;
};
constexpr FixedStatus kFixedStatuses[] = {
    {0x00, "operation successful", TPrgResult::progDone, true},
    {0x01, "Device Power down", TPrgResult::PwrDownErr, true},
    {0x03, "Wrong signature", TPrgResult::SignatureErr, true},
    {0x04, "Device protected", TPrgResult::ProtectedErr, true},
    {0x05, "Device not empty", TPrgResult::NotEmptyErr, true},
    {kStatusVerifyError, "Verify error", TPrgResult::VerifyErr, true},
    {0x08, "progTimeOutError", TPrgResult::progTimeOutErr, false},  // the job's mode stays
    {0x0F, "Device count exceeded", TPrgResult::limitExc, true},
    {'L', "Device limit exceeded", TPrgResult::limitExc, true},
    {'c', "erase Chip", TPrgResult::eraChip, false},
};

// Progress letters of one memory, worded by the kind of job.
struct MemoryStatus {
  char upper, lower;
  const char* progMsg;
  TPrgResult progRes;
  const char* verifyMsg;
  TPrgResult verifyRes;
};
constexpr MemoryStatus kMemoryStatuses[] = {
    {'F', 'f', "prog Flash", TPrgResult::prgFlash, "verify Flash", TPrgResult::verifyFlash},
    {'E', 'e', "prog EEprom", TPrgResult::prgEEp, "verify EEprom", TPrgResult::verifyEEp},
    {'U', 'u', "prog UsrRow", TPrgResult::prgUsrRow, "verify UsrRow", TPrgResult::verifyUsrRow},
};

}  // namespace

// ---------------------------------------------------------------- link command

void TUSBreader::DoProgStatus() {
  // Every read here waits at most the status limit; the collapse and the drain read only
  // packets already queued.
  bool got = false;
  auto read = [this, &got] {
    RxLimit limit(*this, kStatusWaitMs);
    char c;
    got = RxChar(c);
    return c;
  };
  char s = read();
  if (!got && DeviceGone()) {
    // The programmer was unplugged and its last statuses are taken: no job runs any more,
    // and a host polling for the job's end gets an answer that ends its loop.
    FlastStat = s;
    Msg = kGoneText;
    Fres = TPrgResult::noProg;
    OpMode = TOpMode::opIdle;
    return;
  }
  if (s == FlastStat) {
    for (int i = 0; i < kMaxRunCollapse && QueuedPackets() > 0; ++i) {
      s = read();
      if (s != FlastStat) break;
    }
  }
  FlastStat = s;

  for (const auto& f : kFixedStatuses) {
    if (s != f.status) continue;
    Msg = f.msg;
    Fres = f.res;
    if (s == kStatusVerifyError)
      for (int i = 0; i < kMaxVerifyDrain && QueuedPackets() > 0; ++i) read();
    if (f.endsJob) OpMode = TOpMode::opIdle;
    return;
  }
  for (const auto& m : kMemoryStatuses) {
    if (s != m.upper && s != m.lower) continue;
    const bool prog = OpMode == TOpMode::opProg;
    Msg = prog ? m.progMsg : m.verifyMsg;
    Fres = prog ? m.progRes : m.verifyRes;
    return;
  }
  // Any other status, NAK from an empty queue among them, changes nothing further.
}

// ---------------------------------------------------------------- list methods

std::string TUSBRdrLst::ProgStatus(int32_t Channel) {
  if (TUSBreader* link = CheckRdr(Channel)) link->DoProgStatus();
  return {};
}

std::string TUSBRdrLst::GetProgStatus(int32_t Channel, int32_t& res) {
  return OnLink(Channel, res, NoLink::Silent, [&](TUSBreader& l) {
    res = Ord(l.Fres);
    return l.Msg;
  });
}

}  // namespace nurva
