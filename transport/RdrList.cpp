#include "transport/RdrList.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "usbio/OsThread.h"

namespace nurva {

TUSBRdrLst::TUSBRdrLst()
    : FList(std::make_unique<std::vector<TUSBreader*>>()), FComponentUSB(std::make_unique<TComponentUSB>()) {
  FList->reserve(kMaxLinks);
}

TUSBRdrLst::~TUSBRdrLst() = default;

int32_t TUSBRdrLst::GetCount() const { return FList ? static_cast<int32_t>(FList->size()) : -1; }

TUSBreader* TUSBRdrLst::GetItem(int32_t Index) const { return (*FList)[static_cast<size_t>(Index)]; }

TUSBreader* TUSBRdrLst::CheckRdr(int32_t Channel) const {
  if (!FList || Channel < 0 || Channel >= GetCount()) return nullptr;
  return GetItem(Channel);
}

void TUSBRdrLst::FreeLinks(bool forUnload) {
  if (!FList) return;
  if (forUnload) {
    FreeLinksForUnload();
    return;
  }
  for (int32_t i = 0; i < GetCount(); ++i) {
    TUSBreader* link = CheckRdr(i);
    if (!link) continue;
    try {
      link->Terminate();
      link->WaitFor();
      delete link;
      (*FList)[static_cast<size_t>(i)] = nullptr;
    } catch (...) {
      break;
    }
  }
}

// All links are told to stop at once and share one time budget, so the unload takes as
// long as the slowest link, not the sum of all. A link whose receive thread had to be cut
// off is never freed: its thread may have left a lock held and a read in flight on the
// link's buffer (TUSBreader::ReleaseAfterCutOff).
void TUSBRdrLst::FreeLinksForUnload() {
  using Clock = std::chrono::steady_clock;
  auto msLeft = [](Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0u : static_cast<uint32_t>(left);
  };
  for (TUSBreader* link : *FList)
    if (link) link->Terminate();
  const auto stopBy = Clock::now() + std::chrono::milliseconds(kUnloadStopMs);
  std::vector<TUSBreader*> cutOff;
  for (TUSBreader*& link : *FList) {
    if (!link) continue;
    try {
      if (link->StopForUnload(msLeft(stopBy))) {
        delete link;
      } else {
        cutOff.push_back(link);
      }
    } catch (...) {
      // Whatever failed, the link is not touched again.
    }
    link = nullptr;
  }
  const auto readsBy = Clock::now() + std::chrono::milliseconds(kUnloadReadEndMs);
  for (TUSBreader* link : cutOff) {
    try {
      link->ReleaseAfterCutOff(msLeft(readsBy));
    } catch (...) {
    }
  }
}

void TUSBRdrLst::ReleaseForUnload() {
  FreeLinks(true);
  if (FComponentUSB) FComponentUSB->StopForUnload();
}

bool TUSBRdrLst::EnumDevices() {
  LinkPause(kEnumStartPauseMs);
  bool result = false;
  for (int32_t j = 0; j < kMaxLinks; ++j) {
    usbio::DispatchPendingWindowMessages();
    bool endEarly = false;
    IdentifyAt(j, result, endEarly);
    if (endEarly) break;
  }
  return result;
}

// One device number of the enumeration: connects, identifies (with retries) and keeps or
// drops the link. Returns true when a programmer was kept.
bool TUSBRdrLst::IdentifyAt(int32_t j, bool& result, bool& endEarly) {
  TUSBreader* link = nullptr;
  try {
    link = new TUSBreader(this);
    FList->push_back(link);
  } catch (...) {
    delete link;
    return false;
  }
  auto drop = [&] {
    try {
      std::erase(*FList, link);
      link->Terminate();
      link->WaitFor();
      delete link;
    } catch (...) {
      // Failures while dropping a link are ignored.
    }
  };

  for (int attempts = 1;; ++attempts) {
    if (!link->Connect(j)) {
      drop();
      return false;
    }
    uint32_t pause = 0;
    if (!link->TxCmd(TCmdTyp::CTRLcmd, 'I')) {
      pause = kRetryPauseSendFailedMs;
    } else {
      std::memset(&link->FDeviceRec, 0, sizeof link->FDeviceRec);
      uint16_t count = sizeof link->FDeviceRec;
      link->RxBlock(&link->FDeviceRec, count);
      if (count < sizeof link->FDeviceRec) {
        // A part of a record identifies nothing; keep no serial number from it.
        std::memset(&link->FDeviceRec, 0, sizeof link->FDeviceRec);
        pause = kRetryPauseNoReplyMs;
      }
    }
    if (pause == 0) break;  // identified
    if (attempts >= kIdentifyAttempts) {
      // The link stays in the list, disconnected; the devices after it are not probed.
      link->Disconnect();
      endEarly = true;
      return false;
    }
    link->SendVendorRequest();
    LinkPause(pause);
    link->Disconnect();
  }

  const std::string_view name = link->FDeviceRec.DevName.len <= TString16::kCapacity
                                    ? std::string_view(link->FDeviceRec.DevName.chars, link->FDeviceRec.DevName.len)
                                    : std::string_view();
  if (name == kModelProg || name == kModelPR) return true;
  drop();
  result = true;
  return false;
}

}  // namespace nurva
