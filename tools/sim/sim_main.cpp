// nurva-sim: serves virtual programmers on the virtual USB bus until SIGINT or SIGTERM,
// and builds and shows project files.
//
//   nurva-sim [-v] [--count N] [--serial HEX] [--card DIR] [--fault SPEC]... [--programmer SPEC]...
//   nurva-sim mkproj -o FILE [--device NAME] [--flash FILE[@ADDR]] ...
//   nurva-sim info FILE [--json]
//   nurva-sim presets
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/sim/ProjectBuilder.h"
#include "tools/sim/Sample.h"
#include "tools/sim/VirtualProgrammer.h"
#include "usbio/vusb/VusbProtocol.h"

namespace fs = std::filesystem;
using namespace nurva::sim;
using nlohmann::json;

namespace {

std::string SerialText(uint32_t s) {
  char b[16];
  std::snprintf(b, sizeof b, "%08X", s);
  return b;
}

std::string DefaultCardBase() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/nurva-sim";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share/nurva-sim";
  return "/tmp/nurva-sim-cards";
}

bool ParseVolts(const std::string& s, uint16_t& centi) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || (*end && std::strcmp(end, "V") != 0 && std::strcmp(end, "v") != 0) || v < 0 || v > 10.23)
    return false;
  centi = static_cast<uint16_t>(std::lround(v * 100));
  return true;
}

bool ParseSerial(const std::string& s, uint32_t& v) {
  std::string d = s;
  if (d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X')) d.erase(0, 2);
  if (d.empty() || d.size() > 8) return false;
  char* end = nullptr;
  unsigned long x = std::strtoul(d.c_str(), &end, 16);
  if (*end) return false;
  v = static_cast<uint32_t>(x);
  return true;
}

// Whether something already answers on `path`.
bool Served(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// One programmer to serve, as the options describe it.
struct Plan {
  ProgrammerConfig cfg;
  std::vector<std::string> put;  // project files copied onto the card at start
  bool sample = false;
  bool cardGiven = false;
};

// Applies one KEY=VALUE of a --programmer spec (or of the plain options).
bool ApplyKey(Plan& p, const std::string& key, const std::string& value, std::string& err) {
  if (key == "serial") {
    if (!ParseSerial(value, p.cfg.identity.serial)) return err = "serial must be up to 8 hex digits", false;
  } else if (key == "model") {
    if (value == "prog" || value == "NURVA Prog") {
      p.cfg.identity.model = "NURVA Prog";
    } else if (value == "pr" || value == "P/R" || value == "NURVA P/R") {
      p.cfg.identity.model = "NURVA P/R";
    } else {
      p.cfg.identity.model = value;  // any other name: a stranger discovery drops
    }
  } else if (key == "card") {
    p.cfg.cardDir = value;
    p.cardGiven = true;
  } else if (key == "open") {
    p.cfg.openProject = value;
  } else if (key == "device") {
    if (!FindPreset(value)) return err = "unknown device " + value + " (see nurva-sim presets)", false;
    p.cfg.targetDevice = value;
  } else if (key == "voltage") {
    uint16_t c = 0;
    if (!ParseVolts(value, c)) return err = "voltage must be volts from 0 to 10.23", false;
    p.cfg.voltage = c;
  } else if (key == "fuse") {
    int i = 0;
    uint8_t v = 0;
    if (!ParseFuseSpec(value, i, v, &err)) return false;
    p.cfg.targetFuses[i] = v;
  } else if (key == "fault") {
    if (!ParseFault(value, p.cfg.faults, &err)) return false;
  } else if (key == "firmware-lost") {
    p.cfg.identity.firmwareLost = value.empty() || value == "1" || value == "yes" || value == "true";
  } else if (key == "put") {
    p.put.push_back(value);
  } else if (key == "sample") {
    p.sample = true;
  } else if (key == "job-speed") {
    char* end = nullptr;
    p.cfg.jobSpeed = std::strtod(value.c_str(), &end);
    if (*end || p.cfg.jobSpeed <= 0) return err = "job-speed must be a positive number", false;
  } else if (key == "name") {
    p.cfg.socketName = value;
  } else {
    return err = "unknown key '" + key + "'", false;
  }
  return true;
}

bool ApplySpec(Plan& p, const std::string& spec, std::string& err) {
  std::stringstream ss(spec);
  std::string item;
  while (std::getline(ss, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    if (!ApplyKey(p, key, value, err)) {
      err = "--programmer '" + spec + "': " + err;
      return false;
    }
  }
  return true;
}

bool PrepareCard(const Plan& p, std::string& err) {
  Card card(p.cfg.cardDir);
  if (!card.Mounted()) return err = card.Error(), false;
  for (const auto& file : p.put) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return err = "cannot read " + file, false;
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = fs::path(file).filename().string();
    if (!card.Write(name, data, &err)) return false;
  }
  if (p.sample && !card.Write(kSampleFile, MakeSampleProject().Serialize(), &err)) return false;
  return true;
}

std::atomic<bool> gVerbose{false};
std::mutex gOut;

void Print(const std::string& line) {
  std::lock_guard<std::mutex> g(gOut);
  std::cout << line << std::endl;
}

int Serve(std::vector<Plan> plans, const std::string& busDir) {
  // Signals are taken by sigwait below, not by any of the service threads.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  std::error_code ec;
  fs::create_directories(busDir, ec);
  std::vector<std::unique_ptr<VirtualProgrammer>> progs;
  for (auto& p : plans) {
    std::string err;
    const std::string path = busDir + "/" + p.cfg.socketName;
    if (Served(path)) {
      std::cerr << "nurva-sim: " << path << " is already served by another process\n";
      return 1;
    }
    if (!PrepareCard(p, err)) {
      std::cerr << "nurva-sim: card " << p.cfg.cardDir << ": " << err << "\n";
      return 1;
    }
    if (p.sample && !p.cfg.openProject) p.cfg.openProject = kSampleFile;
    VirtualProgrammer::LogFn log = [](const std::string& l) {
      if (gVerbose) Print(l);
    };
    auto prog = std::make_unique<VirtualProgrammer>(busDir, p.cfg, log);
    if (!prog->Notes().empty()) std::cerr << "nurva-sim: " << p.cfg.socketName << ": " << prog->Notes();
    if (!prog->Start(&err)) {
      std::cerr << "nurva-sim: " << err << "\n";
      return 1;
    }
    const auto& c = p.cfg;
    std::string what = prog->Fw().With([](State& st) {
      std::string s = st.target.device + (st.openName ? ", project " + *st.openName : ", no project open");
      if (!st.CardUsable()) s += ", card " + std::string(CardStateName(st.card));
      return s;
    });
    Print("serving " + c.socketName + ": " + c.identity.model + " serial " + SerialText(c.identity.serial) +
          " at " + path + "\n  card " + c.cardDir.string() + "; " + what);
    progs.push_back(std::move(prog));
  }
  Print("nurva-sim: " + std::to_string(progs.size()) + " programmer(s) on bus " + busDir + "; Ctrl-C stops");
  int sig = 0;
  sigwait(&set, &sig);
  Print(std::string("nurva-sim: ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + ", unplugging");
  for (auto& p : progs) p->Stop();
  return 0;
}

json ProjectJson(const Project& p) {
  auto hex = [](uint32_t v, int w) {
    char b[16];
    std::snprintf(b, sizeof b, "%0*X", w, v);
    return std::string(b);
  };
  json j;
  j["name"] = p.name;
  j["info"] = p.info;
  j["device"] = p.device;
  j["signature"] = hex(p.signature[0], 2) + hex(p.signature[1], 2) + hex(p.signature[2], 2);
  j["interface"] = InterfaceName(p.iface);
  j["frequency"] = p.frequency;
  const unsigned mode = p.power >> 10;
  j["power"] = mode == 0 ? json("self") : json({{"volts", (p.power & 0x3FF) / 100.0}, {"maxMilliAmps", mode == 1 ? 30 : 100}});
  j["verify"] = p.optionFlag;
  j["memory"] = {{"flash", p.flashSize}, {"eeprom", p.eepromSize}, {"usrRow", p.usrRowSize}, {"page", p.pageSize}};
  for (auto [key, img] : {std::pair{"flash", &p.flash}, std::pair{"eeprom", &p.eeprom}, std::pair{"usrRow", &p.usrRow}})
    if (*img) j["images"][key] = {{"base", (*img)->base}, {"size", (*img)->data.size()}};
  for (const auto& [i, v] : p.fuses) j["fuses"][std::to_string(i)] = hex(v, 2);
  if (p.lockBits) j["lockBits"] = hex(*p.lockBits, 2);
  j["protection"] = {{"aes", p.protection.Has(nurva::TAESen::AES)},
                     {"password", p.protection.Has(nurva::TAESen::PWDprot)},
                     {"quantity", p.protection.Has(nurva::TAESen::Quantity) ? json(p.quantity) : json(nullptr)}};
  return j;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"nurva-sim: virtual NURVA programmers on the virtual USB bus.\n"
               "Without a subcommand it serves programmers until SIGINT or SIGTERM."};
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", std::string("nurva-sim ") + NURVA_VERSION, "print the version and exit");

  std::string busDir = nurva::vusb::BusDirectory();
  int count = 1;
  std::string serial = "4E520001", model = "prog", card, open, device, voltage, jobSpeed = "1";
  std::vector<std::string> faults, fuses, puts, specs;
  bool verbose = false, firmwareLost = false, sample = false;
  app.add_option("--dir", busDir, "bus directory (default $NURVA_VUSB_DIR, else /tmp/nurva-vusb)");
  app.add_flag("-v,--verbose", verbose, "print every packet received and sent");
  app.add_option("-n,--count", count, "programmers to serve from the options below (serial numbers count up)")
      ->check(CLI::Range(0, 16));
  app.add_option("--serial", serial, "serial number of the first programmer, hexadecimal");
  app.add_option("--model", model, "prog (\"NURVA Prog\"), pr (\"NURVA P/R\") or any other name");
  app.add_option("--card", card,
                 "card directory; with several programmers, the directory that holds one per serial number "
                 "(default ~/.local/share/nurva-sim/SERIAL)");
  app.add_option("--put", puts, "copy a project file onto the card at start");
  app.add_flag("--sample", sample, std::string("put the sample project ") + kSampleFile + " on the card and open it");
  app.add_option("--open", open, "project file opened at start");
  app.add_option("--device", device, "chip in the socket (default: the open project's, else ATmega328P)");
  app.add_option("--voltage", voltage, "target supply in volts (default 3.3)");
  app.add_option("--fuse", fuses, "target fuse value, NAME=HEX (low, high, ext, 0..9)");
  app.add_option("--fault", faults, std::string("fault to show: ") + FaultHelp());
  app.add_flag("--firmware-lost", firmwareLost, "identify with FirmwLost set; only the loader answers");
  app.add_option("--job-speed", jobSpeed, "divide the time of every job step by this");
  app.add_option("--programmer", specs,
                 "one more programmer: KEY=VALUE,... with the keys serial, model, card, open, device, voltage, "
                 "fuse, fault, firmware-lost, put, sample, job-speed, name (repeat the option for each)");

  auto* mk = app.add_subcommand("mkproj", "build a project file from memory images and options");
  BuildOptions bo;
  std::string out, sig, iface, power = "self", vcc, lock;
  std::vector<std::string> mkFuses;
  bool noVerify = false;
  std::optional<uint16_t> quantity;
  std::optional<int32_t> frequency;
  mk->add_option("-o,--output", out, "project file to write")->required();
  mk->add_option("--device", bo.device, "target device preset (see nurva-sim presets)");
  mk->add_option("--signature", sig, "device ID, 3 bytes in hex (for a device without a preset)");
  mk->add_option("--flash-size", bo.flashSize, "Flash size in bytes");
  mk->add_option("--eeprom-size", bo.eepromSize, "EEprom size in bytes");
  mk->add_option("--usrrow-size", bo.usrRowSize, "user signature row size in bytes");
  mk->add_option("--interface", iface, "SPI, JTAG, PDI or TPI");
  mk->add_option("--name", bo.name, "project name, at most 14 characters");
  mk->add_option("--info", bo.info, "info text, at most 18 characters");
  mk->add_option("--frequency", frequency, "interface clock in Hz");
  mk->add_option("--power", power, "self (the target powers itself), 30mA or 100mA (the programmer supplies it)");
  mk->add_option("--vcc", vcc, "supply voltage when the programmer powers the target, volts");
  mk->add_option("--flash", bo.flash, "Flash image: FILE.hex or FILE.bin[@ADDRESS]");
  mk->add_option("--eeprom", bo.eeprom, "EEprom image: FILE.hex or FILE.bin[@ADDRESS]");
  mk->add_option("--usrrow", bo.usrRow, "user row image: FILE.hex or FILE.bin[@ADDRESS]");
  mk->add_option("--fuse", mkFuses, "fuse value to program, NAME=HEX (low, high, ext, 0..9)");
  mk->add_option("--lock", lock, "lock bits to program, hex");
  mk->add_flag("--no-verify", noVerify, "clear the verify-after-programming option");
  mk->add_flag("--aes", bo.aes, "mark the project as encrypted");
  mk->add_option("--password", bo.password, "protect the project with a password");
  mk->add_option("--quantity", quantity, "limit the number of devices programmed");

  auto* info = app.add_subcommand("info", "show what a project file holds");
  std::string infoFile;
  bool infoJson = false;
  info->add_option("file", infoFile, "project file")->required();
  info->add_flag("--json", infoJson, "print JSON");

  auto* presets = app.add_subcommand("presets", "list the devices the simulator knows");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  if (*presets) {
    for (const auto& d : DevicePresets())
      std::printf("%-14s %02X%02X%02X  %-4s flash %u, eeprom %u, user row %u\n", d.name, d.signature[0], d.signature[1],
                  d.signature[2], InterfaceName(d.iface), d.flashSize, d.eepromSize, d.usrRowSize);
    return 0;
  }

  if (*info) {
    std::ifstream in(infoFile, std::ios::binary);
    if (!in) {
      std::cerr << "nurva-sim: cannot read " << infoFile << "\n";
      return 1;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string err;
    auto p = Project::Parse(data, &err);
    if (!p) {
      std::cerr << "nurva-sim: " << infoFile << ": " << err << "\n";
      return 1;
    }
    json j = ProjectJson(*p);
    if (infoJson) {
      std::cout << j.dump(2) << "\n";
    } else {
      for (auto& [k, v] : j.items()) std::cout << k << ": " << (v.is_string() ? v.get<std::string>() : v.dump()) << "\n";
    }
    return 0;
  }

  if (*mk) {
    std::string err;
    if (!sig.empty()) {
      bo.signature = ParseSignature(sig);
      if (!bo.signature) {
        std::cerr << "nurva-sim: --signature needs 3 bytes in hex\n";
        return 2;
      }
    }
    if (!iface.empty()) {
      bo.iface = ParseInterface(iface);
      if (!bo.iface) {
        std::cerr << "nurva-sim: --interface must be SPI, JTAG, PDI or TPI\n";
        return 2;
      }
    }
    if (power == "self") {
      bo.powerMode = PowerMode::Self;
    } else if (power == "30mA" || power == "30") {
      bo.powerMode = PowerMode::Max30mA;
    } else if (power == "100mA" || power == "100") {
      bo.powerMode = PowerMode::Max100mA;
    } else {
      std::cerr << "nurva-sim: --power must be self, 30mA or 100mA\n";
      return 2;
    }
    if (!vcc.empty() && !ParseVolts(vcc, bo.centiVolts)) {
      std::cerr << "nurva-sim: --vcc must be volts from 0 to 10.23\n";
      return 2;
    }
    if (bo.powerMode != PowerMode::Self && vcc.empty()) bo.centiVolts = 330;
    for (const auto& f : mkFuses) {
      int i = 0;
      uint8_t v = 0;
      if (!ParseFuseSpec(f, i, v, &err)) {
        std::cerr << "nurva-sim: " << err << "\n";
        return 2;
      }
      bo.fuses[i] = v;
    }
    if (!lock.empty()) {
      int i = 0;
      uint8_t v = 0;
      if (!ParseFuseSpec("0=" + lock, i, v, &err)) {
        std::cerr << "nurva-sim: --lock needs a hexadecimal byte\n";
        return 2;
      }
      bo.lockBits = v;
    }
    bo.verify = !noVerify;
    bo.quantity = quantity;
    bo.frequency = frequency;
    auto p = BuildProject(bo, &err);
    if (!p) {
      std::cerr << "nurva-sim: " << err << "\n";
      return 1;
    }
    // Written like the card writes: a whole file or none.
    const fs::path target(out);
    Card dir(target.has_parent_path() ? target.parent_path() : fs::path("."));
    if (!dir.Write(target.filename().string(), p->Serialize(), &err)) {
      std::cerr << "nurva-sim: " << err << "\n";
      return 1;
    }
    std::cout << "wrote " << out << " (" << p->device << ", " << (p->flash ? p->flash->data.size() : 0)
              << " bytes Flash, " << (p->eeprom ? p->eeprom->data.size() : 0) << " bytes EEprom)\n";
    return 0;
  }

  gVerbose = verbose;
  std::vector<Plan> plans;
  Plan base;
  std::string err;
  auto applyBase = [&](const std::string& key, const std::string& value) {
    if (!ApplyKey(base, key, value, err)) {
      std::cerr << "nurva-sim: " << err << "\n";
      std::exit(2);
    }
  };
  applyBase("serial", serial);
  applyBase("model", model);
  if (!open.empty()) applyBase("open", open);
  if (!device.empty()) applyBase("device", device);
  if (!voltage.empty()) applyBase("voltage", voltage);
  for (const auto& f : fuses) applyBase("fuse", f);
  for (const auto& f : faults) applyBase("fault", f);
  for (const auto& f : puts) applyBase("put", f);
  if (firmwareLost) applyBase("firmware-lost", "");
  if (sample) applyBase("sample", "");
  applyBase("job-speed", jobSpeed);

  const int fromOptions = specs.empty() ? count : (app.count("--count") ? count : 0);
  for (int i = 0; i < fromOptions; ++i) {
    Plan p = base;
    p.cfg.identity.serial = base.cfg.identity.serial + static_cast<uint32_t>(i);
    plans.push_back(p);
  }
  for (const auto& s : specs) {
    Plan p = base;
    p.cfg.identity.serial = base.cfg.identity.serial + static_cast<uint32_t>(plans.size());
    if (!ApplySpec(p, s, err)) {
      std::cerr << "nurva-sim: " << err << "\n";
      return 2;
    }
    plans.push_back(p);
  }
  if (plans.size() > 16) {
    std::cerr << "nurva-sim: at most 16 programmers\n";
    return 2;
  }
  const bool several = plans.size() > 1;
  for (size_t i = 0; i < plans.size(); ++i) {
    Plan& p = plans[i];
    char name[32];
    std::snprintf(name, sizeof name, "nurva-sim-%02zu", i);
    if (p.cfg.socketName == ProgrammerConfig{}.socketName) p.cfg.socketName = name;
    if (p.cardGiven) continue;  // card= of its own --programmer spec
    const std::string serialDir = SerialText(p.cfg.identity.serial);
    if (card.empty())
      p.cfg.cardDir = fs::path(DefaultCardBase()) / serialDir;
    else
      p.cfg.cardDir = several ? fs::path(card) / serialDir : fs::path(card);
  }
  if (plans.empty()) {
    std::cerr << "nurva-sim: no programmer to serve\n";
    return 2;
  }
  return Serve(std::move(plans), busDir);
}
