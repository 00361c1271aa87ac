// Erase, program and verify: jobs on the target from the open project. An erase answers
// ACK, ACK and, once the chip is erased, its outcome. A start command answers at once
// (ACK, or why it cannot start) and then runs its job on the firmware's timer: one
// progress status per page or chunk done, so a long memory shows as a run of equal
// statuses, then the final status.
#include <algorithm>
#include <optional>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

// Times of the work, in ms at job speed 1: close to an ISP programmer on a small AVR.
constexpr uint32_t kEraseMs = 120;
constexpr uint32_t kFlashPageMs = 40;
constexpr uint32_t kEepromChunkMs = 60;  // 16 bytes of about 3.7 ms each
constexpr uint32_t kUsrRowPageMs = 40;
constexpr uint32_t kVerifyPageMs = 12;
constexpr uint32_t kFuseMs = 60;
constexpr size_t kEepromChunk = 16;
constexpr size_t kDefaultPage = 128;

// Statuses and answers of a job.
constexpr uint8_t kDone = 0x00;
constexpr uint8_t kVerifyError = 0x06;
constexpr uint8_t kProgTimeOut = 0x08;
constexpr uint8_t kCountExceeded = 0x0F;
constexpr uint8_t kLimitExceeded = 'L';
constexpr uint8_t kEraseStatus = 'c';

struct MemLetters {
  tMemType mem;
  uint8_t prog, verify;  // progress letters of programming and verifying
  uint32_t progMs, verifyMs;
};
constexpr MemLetters kMemories[] = {
    {tMemType::isFlash, 'F', 'f', kFlashPageMs, kVerifyPageMs},
    {tMemType::isEEprom, 'E', 'e', kEepromChunkMs, kVerifyPageMs},
    {tMemType::isUsrRow, 'U', 'u', kUsrRowPageMs, kVerifyPageMs},
};

const char* MemName(tMemType m) {
  switch (m) {
    case tMemType::isFlash: return "Flash";
    case tMemType::isEEprom: return "EEprom";
    case tMemType::isUsrRow: return "user row";
    default: return "?";
  }
}

size_t ChunkSize(const Project& p, tMemType m) {
  if (m == tMemType::isEEprom) return kEepromChunk;
  return p.pageSize ? p.pageSize : kDefaultPage;
}

bool Erased(const Bytes& m) { return std::all_of(m.begin(), m.end(), [](uint8_t b) { return b == 0xFF; }); }

// What the programmer answers to a start before any work: ACK, or why it cannot start.
// `emptyMem`: the memory that must be erased for programming (0x05 when it is not).
uint8_t StartAnswer(Exchange& ex, const std::vector<tMemType>& needs, std::optional<tMemType> emptyMem) {
  const State& st = ex.st;
  if (!st.CardUsable() || !st.open) {
    ex.Note("no open project");
    return kNak;
  }
  for (tMemType m : needs) {
    if (!st.open->Image(m)) {
      ex.Note(std::string("the project has no ") + MemName(m) + " image");
      return kNak;
    }
  }
  if (st.faults.progTimeout) return kProgTimeOut;
  const Target& t = st.target;
  if (!t.powered) return kTargetPowerDown;
  if (t.ReadId() != st.open->signature) return kTargetWrongId;
  if (t.locked) return kTargetProtected;
  if (emptyMem) {
    const Bytes* m = *emptyMem == tMemType::isFlash    ? &t.flash
                     : *emptyMem == tMemType::isEEprom ? &t.eeprom
                                                       : &t.usrRow;
    if (!Erased(*m)) return kTargetNotEmpty;
  }
  return kAck;
}

// Steps that write (or compare) one memory image, a page or chunk per step.
void AddImageSteps(Job& job, const Project& p, const MemLetters& ml, bool verify) {
  const auto& img = p.Image(ml.mem);
  if (!img) return;
  const size_t chunk = ChunkSize(p, ml.mem);
  const size_t size = img->data.size();
  for (size_t off = 0; off < size; off += chunk) {
    const size_t n = std::min(chunk, size - off);
    const uint32_t at = img->base + static_cast<uint32_t>(off);
    const tMemType mem = ml.mem;
    Bytes part(img->data.begin() + static_cast<std::ptrdiff_t>(off),
               img->data.begin() + static_cast<std::ptrdiff_t>(off + n));
    JobStep s;
    s.ms = verify ? ml.verifyMs : ml.progMs;
    s.status = verify ? ml.verify : ml.prog;
    const bool firstChunk = off == 0;
    s.work = [mem, at, part, verify, firstChunk](State& st) -> std::optional<uint8_t> {
      Bytes* m = st.target.Memory(mem);
      if (!m) return verify ? std::optional<uint8_t>(kVerifyError) : std::nullopt;
      for (size_t i = 0; i < part.size(); ++i) {
        const size_t a = at + i;
        if (a >= m->size()) return verify ? std::optional<uint8_t>(kVerifyError) : std::nullopt;
        if (!verify) {
          (*m)[a] = part[i];
          continue;
        }
        uint8_t read = (*m)[a];
        // The faulty cell: the first byte of the first programmed page reads one bit off.
        if (st.target.verifyFault && firstChunk && i == 0 && mem == tMemType::isFlash) read ^= 0x01;
        if (read != part[i]) return kVerifyError;
      }
      return std::nullopt;
    };
    job.steps.push_back(std::move(s));
  }
}

// The last step of a programming job: counts the device.
JobStep ProgrammedStep() {
  JobStep s;
  s.ms = 0;
  s.status = kDone;
  s.work = [](State& st) -> std::optional<uint8_t> {
    ++st.count.devicesProgrammed;
    if (st.open && st.open->protection.Has(TAESen::Quantity) && st.open->quantity > 0) --st.open->quantity;
    return std::nullopt;
  };
  return s;
}

// A programming job refused by a limit ends with its first status.
std::optional<uint8_t> LimitStatus(const State& st) {
  if (st.faults.deviceLimit >= 0 && st.count.devicesProgrammed >= st.faults.deviceLimit) return kCountExceeded;
  if (st.open && st.open->protection.Has(TAESen::Quantity) && st.open->quantity == 0) return kLimitExceeded;
  return std::nullopt;
}

// A fault that breaks off a started job after its first step.
void InjectJobFault(Job& job, const State& st) {
  if (!st.faults.jobFails || job.steps.size() < 2) return;
  const uint8_t status = *st.faults.jobFails;
  job.steps[1].work = [status](State&) -> std::optional<uint8_t> { return status; };
}

uint32_t JobMs(const Job& job) {
  uint32_t ms = 0;
  for (const auto& s : job.steps) ms += s.ms;
  return ms;
}

void Launch(Exchange& ex, Job job) {
  InjectJobFault(job, ex.st);
  const double speed = ex.st.jobSpeed > 0 ? ex.st.jobSpeed : 1.0;
  ex.Note("job '" + job.name + "': " + std::to_string(job.steps.size()) + " steps, " +
          std::to_string(static_cast<uint32_t>(JobMs(job) / speed)) + " ms");
  ex.StartJob(std::move(job));
}

// Answers a start; true when the job may run. No answer at all under the fault.
bool Answer(Exchange& ex, uint8_t answer, bool acceptNotEmpty) {
  if (ex.st.faults.noStartAnswer) {
    ex.Note("start not answered (fault)");
    return false;
  }
  ex.Reply(answer);
  return answer == kAck || (acceptNotEmpty && answer == kTargetNotEmpty);
}

// ---- erase ----

enum class EraseKind { Chip, All, UsrRow };

void Erase(Exchange& ex, EraseKind kind) {
  if (!ex.st.CardUsable() || !ex.st.open) {
    ex.Note("no open project");
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  if (!ex.st.target.powered) {
    ex.Reply(kTargetPowerDown);
    return;
  }
  ex.Reply(kAck);
  Job job;
  job.name = kind == EraseKind::Chip ? "chip erase" : kind == EraseKind::All ? "erase all" : "user row erase";
  JobStep s;
  s.ms = kEraseMs;
  s.status = kDone;
  s.work = [kind](State& st) -> std::optional<uint8_t> {
    Target& t = st.target;
    if (t.ReadId() != (st.open ? st.open->signature : t.signature)) return kTargetWrongId;
    if (kind != EraseKind::UsrRow) {
      std::fill(t.flash.begin(), t.flash.end(), 0xFF);
      std::fill(t.eeprom.begin(), t.eeprom.end(), 0xFF);
      t.locked = false;
      t.lockBits = 0xFF;
    }
    if (kind != EraseKind::Chip) std::fill(t.usrRow.begin(), t.usrRow.end(), 0xFF);
    return std::nullopt;
  };
  job.steps.push_back(std::move(s));
  Launch(ex, std::move(job));
}

// ---- program ----

// 'P': erases the chip, then programs every image of the project and its fuses. The
// lock bits are left for ProgLockBits, after the verify.
void ProgramAll(Exchange& ex) {
  std::vector<tMemType> needs;
  if (ex.st.open && !ex.st.open->flash && !ex.st.open->eeprom && !ex.st.open->usrRow) needs.push_back(tMemType::isFlash);
  uint8_t answer = StartAnswer(ex, needs, std::nullopt);
  if (answer == kAck && !ex.st.target.Empty()) answer = kTargetNotEmpty;
  if (!Answer(ex, answer, true)) return;
  const Project& p = *ex.st.open;
  Job job;
  job.name = "program device";
  const auto limit = LimitStatus(ex.st);
  job.steps.push_back({kEraseMs, kEraseStatus, [limit](State& st) -> std::optional<uint8_t> {
                         if (limit) return limit;
                         Target& t = st.target;
                         std::fill(t.flash.begin(), t.flash.end(), 0xFF);
                         std::fill(t.eeprom.begin(), t.eeprom.end(), 0xFF);
                         std::fill(t.usrRow.begin(), t.usrRow.end(), 0xFF);
                         return std::nullopt;
                       }});
  for (const auto& ml : kMemories) AddImageSteps(job, p, ml, false);
  if (!p.fuses.empty()) {
    // Fuses go with the last memory's status; they take their own time.
    const uint8_t last = job.steps.back().status;
    job.steps.push_back({kFuseMs, last, [fuses = p.fuses](State& st) -> std::optional<uint8_t> {
                           for (const auto& [i, v] : fuses) st.target.fuses[i] = v;
                           return std::nullopt;
                         }});
  }
  job.steps.push_back(ProgrammedStep());
  Launch(ex, std::move(job));
}

// 'f', 'e', 'U': one memory. Flash must be erased first; EEprom and the user row are
// written over what they hold.
void ProgramOne(Exchange& ex, const MemLetters& ml) {
  const bool flash = ml.mem == tMemType::isFlash;
  const uint8_t answer = StartAnswer(ex, {ml.mem}, ml.mem);
  if (!Answer(ex, answer, !flash)) return;
  Job job;
  job.name = std::string("program ") + MemName(ml.mem);
  AddImageSteps(job, *ex.st.open, ml, false);
  if (flash) {
    const auto limit = LimitStatus(ex.st);
    if (limit) job.steps.front().work = [limit](State&) { return limit; };
    job.steps.push_back(ProgrammedStep());
  } else {
    job.steps.push_back({0, kDone, {}});
  }
  Launch(ex, std::move(job));
}

// 'F' and 'L': fuses or lock bits, one step; its answer comes when they are written.
void ProgramBits(Exchange& ex, bool lockBits) {
  uint8_t answer = StartAnswer(ex, {}, std::nullopt);
  if (answer == kAck && ex.st.open && (lockBits ? !ex.st.open->lockBits : ex.st.open->fuses.empty())) {
    ex.Note(lockBits ? "the project has no lock bits" : "the project has no fuses");
    answer = kNak;
  }
  if (ex.st.faults.noStartAnswer) {
    ex.Note("start not answered (fault)");
    return;
  }
  if (answer != kAck) {
    ex.Reply(answer);
    return;
  }
  Job job;
  job.name = lockBits ? "lock bits" : "fuses";
  const Project& p = *ex.st.open;
  job.steps.push_back({kFuseMs, kAck, [lockBits, fuses = p.fuses, lock = p.lockBits](State& st) -> std::optional<uint8_t> {
                         if (lockBits) {
                           st.target.lockBits = *lock;
                           // Lock bit modes with LB1 or LB2 programmed (0) protect the chip.
                           st.target.locked = (*lock & 0x03) != 0x03;
                         } else {
                           for (const auto& [i, v] : fuses) st.target.fuses[i] = v;
                         }
                         return std::nullopt;
                       }});
  ex.StartJob(std::move(job));
}

// ---- verify ----

// 'V', 'v', 'd' and their 0x00: compares the target with the project's images.
void Verify(Exchange& ex, std::vector<tMemType> mems) {
  if (!ex.ArgChar()) return;
  std::vector<tMemType> needs;
  if (mems.size() == 1) needs = mems;
  const uint8_t answer = StartAnswer(ex, needs, std::nullopt);
  if (!Answer(ex, answer, false)) return;
  Job job;
  job.name = mems.size() == 1 ? std::string("verify ") + MemName(mems[0]) : "verify device";
  for (const auto& ml : kMemories)
    if (std::find(mems.begin(), mems.end(), ml.mem) != mems.end()) AddImageSteps(job, *ex.st.open, ml, true);
  job.steps.push_back({0, kDone, {}});
  Launch(ex, std::move(job));
}

}  // namespace

void AddJobCommands(CommandSet& set) {
  set.AddQ('E', "erase device", [](Exchange& ex) { Erase(ex, EraseKind::Chip); });
  set.AddQ('G', "erase device and user row", [](Exchange& ex) { Erase(ex, EraseKind::All); });
  set.AddQ('R', "erase user row", [](Exchange& ex) { Erase(ex, EraseKind::UsrRow); });
  set.AddQ('P', "program device", ProgramAll);
  set.AddQ('f', "program Flash", [](Exchange& ex) { ProgramOne(ex, kMemories[0]); });
  set.AddQ('e', "program EEprom", [](Exchange& ex) { ProgramOne(ex, kMemories[1]); });
  set.AddQ('U', "program user row", [](Exchange& ex) { ProgramOne(ex, kMemories[2]); });
  set.AddQ('F', "program fuses", [](Exchange& ex) { ProgramBits(ex, false); });
  set.AddQ('L', "program lock bits", [](Exchange& ex) { ProgramBits(ex, true); });
  set.AddQ('V', "verify device", [](Exchange& ex) {
    Verify(ex, {tMemType::isFlash, tMemType::isEEprom, tMemType::isUsrRow});
  });
  set.AddQ('v', "verify Flash", [](Exchange& ex) { Verify(ex, {tMemType::isFlash}); });
  set.AddQ('d', "verify EEprom", [](Exchange& ex) { Verify(ex, {tMemType::isEEprom}); });
}

}  // namespace nurva::sim
