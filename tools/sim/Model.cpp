#include "tools/sim/Model.h"
#include "tools/sim/ParseNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace nurva::sim {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

const char* CardStateName(CardState s) {
  switch (s) {
    case CardState::Ok: return "ok";
    case CardState::Missing: return "missing";
    case CardState::InitFailed: return "init";
    case CardState::ResetFailed: return "reset";
    case CardState::CheckFailed: return "check";
  }
  return "?";
}

std::optional<CardState> ParseCardState(std::string_view s) {
  const std::string l = Lower(s);
  for (auto c : {CardState::Ok, CardState::Missing, CardState::InitFailed, CardState::ResetFailed,
                 CardState::CheckFailed})
    if (l == CardStateName(c)) return c;
  if (l == "none" || l == "no") return CardState::Missing;
  return std::nullopt;
}

TDeviceRec Identity::Record() const {
  TDeviceRec r{};
  r.DevName.Assign(model);
  r.SW_rev = swRev;
  r.HW_rev = hwRev;
  r.LoaderID = loaderId;
  r.VID = vid;
  r.PID = pid;
  r.SerNum = serial;
  r.Date.Assign(date);
  r.calibrate = calibrated ? 1 : 0;
  r.FirmwLost = firmwareLost ? 1 : 0;
  r.curMode = static_cast<TCmdTyp>(curMode);
  return r;
}

std::array<uint8_t, 3> Target::ReadId() const {
  if (!idFault) return signature;
  // A garbled ID: the family byte survives, the part number does not.
  return {signature[0], static_cast<uint8_t>(~signature[1]), static_cast<uint8_t>(~signature[2])};
}

bool Target::Empty() const {
  auto erased = [](const Bytes& m) { return std::all_of(m.begin(), m.end(), [](uint8_t b) { return b == 0xFF; }); };
  return erased(flash) && erased(eeprom) && erased(usrRow);
}

void Target::EraseAll() {
  for (Bytes* m : {&flash, &eeprom, &usrRow}) std::fill(m->begin(), m->end(), 0xFF);
  locked = false;
}

Bytes* Target::Memory(tMemType m) {
  switch (m) {
    case tMemType::isFlash: return &flash;
    case tMemType::isEEprom: return &eeprom;
    case tMemType::isUsrRow: return &usrRow;
    default: return nullptr;
  }
}

const std::vector<DevicePreset>& DevicePresets() {
  // Fuse byte 0 is the low fuse, 1 the high fuse, 2 the extended fuse (FUSEBYTE0.. on
  // the xmega parts).
  static const std::vector<DevicePreset> presets = {
      {"ATmega328P", {0x1E, 0x95, 0x0F}, 32768, 1024, 0, 128, Interface::SPI, {{0, 0x62}, {1, 0xD9}, {2, 0xFF}}, 0xFF},
      {"ATmega2560", {0x1E, 0x98, 0x01}, 262144, 4096, 0, 256, Interface::JTAG, {{0, 0x62}, {1, 0x99}, {2, 0xFF}},
       0xFF},
      {"ATxmega128A1", {0x1E, 0x97, 0x4C}, 139264, 2048, 512, 512, Interface::PDI,
       {{0, 0xFF}, {1, 0x00}, {2, 0xFF}, {4, 0xFE}, {5, 0xFF}}, 0xFF},
      {"ATtiny10", {0x1E, 0x90, 0x03}, 1024, 0, 0, 16, Interface::TPI, {{0, 0xFF}}, 0xFF},
  };
  return presets;
}

const DevicePreset* FindPreset(std::string_view name) {
  const std::string l = Lower(name);
  for (const auto& p : DevicePresets())
    if (Lower(p.name) == l) return &p;
  return nullptr;
}

Target MakeTarget(const DevicePreset& p) {
  Target t;
  t.device = p.name;
  t.signature = p.signature;
  t.flash.assign(p.flashSize, 0xFF);
  t.eeprom.assign(p.eepromSize, 0xFF);
  t.usrRow.assign(p.usrRowSize, 0xFF);
  t.fuses = p.fuses;
  t.lockBits = p.lockBits;
  return t;
}

void ApplyStateFaults(State& st) {
  const Faults& f = st.faults;
  if (f.card) st.card = *f.card;
  Target& t = st.target;
  if (f.powerDown) t.powered = false;
  if (f.wrongSignature) t.idFault = true;
  if (f.protectedTarget) t.locked = true;
  if (f.verifyError) t.verifyFault = true;
  if (f.notEmpty) {
    // Something left in the chip from an earlier life.
    Bytes* m = !t.flash.empty() ? &t.flash : !t.eeprom.empty() ? &t.eeprom : &t.usrRow;
    static const uint8_t old[] = {0x0C, 0x94, 0x34, 0x00, 0x0C, 0x94, 0x3E, 0x00};
    for (size_t i = 0; i < m->size() && i < sizeof old; ++i) (*m)[i] = old[i];
  }
}

uint8_t CheckTarget(const Target& t, const std::array<uint8_t, 3>& expectedId) {
  if (!t.powered) return kTargetPowerDown;
  if (t.ReadId() != expectedId) return kTargetWrongId;
  if (t.locked) return kTargetProtected;
  if (!t.Empty()) return kTargetNotEmpty;
  return kTargetEmpty;
}

const char* BlockStageName(BlockStage s) {
  switch (s) {
    case BlockStage::Open: return "open";
    case BlockStage::ReadBack: return "read";
    case BlockStage::File: return "file";
    case BlockStage::UpFile: return "up";
    case BlockStage::Over: return "over";
  }
  return "?";
}

const char* FaultHelp() {
  return "card=missing|init|reset|check, power-down, wrong-signature, protected, not-empty, verify-error, "
         "delay=MS, drop-reply=N[,N...], drop-packet=N[,N...] (or N+N...), silent-after=N, unplug-after=N, unplug-after-ms=MS, "
         "protected-project[=BITS], params-refused, params-short=N, "
         "no-start-answer, prog-timeout, job-fails=power-down|wrong-signature|protected|not-empty|timeout, device-limit=N, "
         "block-refuse=open|read|file|up|over[,...], target-comm, late-target-fault, block-no-cr, block-checksum, "
         "block-short=N, data-stops=N, "
         "card-refuse, file-missing, time-refuse, checksum-refuse=N, download-stops=N";
}

bool ParseFault(std::string_view spec, Faults& f, std::string* err) {
  auto fail = [&](std::string why) {
    if (err) *err = std::move(why);
    return false;
  };
  const size_t eq = spec.find('=');
  const std::string key = Lower(spec.substr(0, eq));
  const std::string_view value = eq == std::string_view::npos ? std::string_view() : spec.substr(eq + 1);
  const bool hasValue = eq != std::string_view::npos;

  struct Flag {
    const char* name;
    bool Faults::*member;
  };
  static const Flag flags[] = {{"power-down", &Faults::powerDown},       {"wrong-signature", &Faults::wrongSignature},
                               {"protected", &Faults::protectedTarget}, {"not-empty", &Faults::notEmpty},
                               {"verify-error", &Faults::verifyError},  {"params-refused", &Faults::paramsRefused},
                               {"no-start-answer", &Faults::noStartAnswer}, {"prog-timeout", &Faults::progTimeout},
                               {"target-comm", &Faults::targetComm},    {"late-target-fault", &Faults::lateTargetFault},
                               {"block-no-cr", &Faults::blockNoCr},     {"block-checksum", &Faults::blockChecksum},
                               {"card-refuse", &Faults::cardRefuse},    {"file-missing", &Faults::fileMissing},
                               {"time-refuse", &Faults::timeRefuse}};
  for (const Flag& fl : flags) {
    if (key != fl.name) continue;
    if (hasValue) return fail("fault '" + key + "' takes no value");
    f.*(fl.member) = true;
    return true;
  }

  if (key == "protected-project") {
    // All three features unless a set is given.
    long long bits = 0x07;
    if (hasValue && (!ParseNumber(value, bits) || bits < 0 || bits > 0xFF))
      return fail("protected-project takes a feature byte 0..255");
    f.protectedProject = static_cast<uint8_t>(bits);
    return true;
  }

  if (key == "block-refuse") {
    std::string_view rest = value;
    if (!hasValue || rest.empty()) return fail("block-refuse needs stages: open, read, file, up, over");
    while (!rest.empty()) {
      const size_t comma = rest.find_first_of(",+");
      const std::string name = Lower(rest.substr(0, comma));
      bool known = false;
      for (auto st : {BlockStage::Open, BlockStage::ReadBack, BlockStage::File, BlockStage::UpFile, BlockStage::Over})
        if (name == BlockStageName(st)) {
          f.blockRefuse.insert(st);
          known = true;
        }
      if (!known) return fail("block-refuse stage '" + name + "' is not open, read, file, up or over");
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return true;
  }

  if (key == "job-fails") {
    static const std::pair<const char*, uint8_t> kinds[] = {
        {"power-down", kTargetPowerDown}, {"wrong-signature", kTargetWrongId}, {"protected", kTargetProtected},
        {"not-empty", kTargetNotEmpty},   {"timeout", 0x08}};
    for (const auto& [name, status] : kinds) {
      if (Lower(value) != name) continue;
      f.jobFails = status;
      return true;
    }
    return fail("job-fails must be power-down, wrong-signature, protected, not-empty or timeout");
  }

  if (key == "card") {
    auto c = ParseCardState(value);
    if (!c) return fail("card fault must be missing, init, reset or check");
    f.card = c;
    return true;
  }

  auto number = [&](long long lo, long long hi, long long& v) {
    return hasValue && ParseNumber(value, v) && v >= lo && v <= hi;
  };
  long long v = 0;
  if (key == "delay") {
    if (!number(0, 600000, v)) return fail("delay needs milliseconds");
    f.replyDelayMs = static_cast<uint32_t>(v);
    return true;
  }
  if (key == "drop-reply" || key == "drop-packet") {
    std::set<int>& into = key == "drop-reply" ? f.dropReplies : f.dropPackets;
    if (!hasValue) return fail(key + " needs packet numbers");
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t comma = rest.find_first_of(",+");
      long long n = 0;
      if (!ParseNumber(rest.substr(0, comma), n) || n < 1 || n > 1000000000)
        return fail(key + " needs packet numbers from 1");
      into.insert(static_cast<int>(n));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return true;
  }
  struct Count {
    const char* name;
    int Faults::*member;
  };
  static const Count counts[] = {{"silent-after", &Faults::silentAfter},
                                 {"unplug-after", &Faults::unplugAfter},
                                 {"unplug-after-ms", &Faults::unplugAfterMs},
                                 {"params-short", &Faults::paramsShort},
                                 {"device-limit", &Faults::deviceLimit},
                                 {"block-short", &Faults::blockShort},
                                 {"data-stops", &Faults::dataStops},
                                 {"checksum-refuse", &Faults::checksumRefuse},
                                 {"download-stops", &Faults::downloadStops}};
  for (const Count& c : counts) {
    if (key != c.name) continue;
    if (!number(0, 1000000000, v)) return fail(key + " needs a number");
    f.*(c.member) = static_cast<int>(v);
    return true;
  }
  return fail("unknown fault '" + std::string(spec) + "' (known: " + FaultHelp() + ")");
}

}  // namespace nurva::sim
