// Subcommands of the block transfers and read back: read, write, compare.
//
//   nurva read MEMORY [--address A] [--size N] -o FILE
//   nurva write MEMORY FILE [--address A] [--project]
//   nurva compare MEMORY FILE [--address A] [--project]
// FILE is Intel HEX when it ends in .hex, .ihx or .ihex, raw binary otherwise.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"
#include "tools/common/IntelHex.h"

namespace nurva::cli {

namespace {

using json = Json;
using Clock = std::chrono::steady_clock;

constexpr size_t kShownDifferences = 10;
constexpr int kBarWidth = 24;

struct BlockOptions {
  std::string memory, file, output;
  std::string address, size;
  bool project = false;
};

// Decimal, 0x hexadecimal, or either with a K (KiB) suffix.
bool ParseSize(const std::string& s, uint32_t& v) {
  if (s.empty()) return false;
  std::string digits = s;
  uint64_t scale = 1;
  if (digits.back() == 'k' || digits.back() == 'K') {
    scale = 1024;
    digits.pop_back();
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty()) return false;
  uint64_t n = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : 99;
    if (d >= base) return false;
    n = n * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (n > 0xFFFFFFFFull) return false;
  }
  n *= scale;
  if (n > 0xFFFFFFFFull) return false;
  v = static_cast<uint32_t>(n);
  return true;
}

std::string Hex8(uint32_t a) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%06X", a);
  return b;
}

// A file's image: Intel HEX keeps its addresses (an --address moves it there), raw binary
// stands at --address (default 0).
std::optional<hex::Image> LoadFile(const std::string& path, std::optional<uint32_t> at, std::string& err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    err = "cannot read " + path;
    return std::nullopt;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  const std::string content = ss.str();
  hex::Image img;
  if (hex::IsHexName(path)) {
    std::string why;
    auto parsed = hex::Parse(content, &why);
    if (!parsed) {
      err = path + ": " + why;
      return std::nullopt;
    }
    img = std::move(*parsed);
    if (at) img.base = *at;
  } else {
    img.base = at.value_or(0);
    img.data.assign(content.begin(), content.end());
  }
  if (img.data.empty()) {
    err = path + " holds no data";
    return std::nullopt;
  }
  return img;
}

bool SaveFile(const std::string& path, const hex::Image& img, std::string& err) {
  const std::string tmp = path + ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (hex::IsHexName(path)) {
      const std::string text = hex::Format(img);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    } else {
      out.write(reinterpret_cast<const char*>(img.data.data()), static_cast<std::streamsize>(img.data.size()));
    }
    out.flush();
    if (!out) {
      err = "cannot write " + path;
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    err = "cannot write " + path;
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

// A progress bar with the rate, on standard error when it is a terminal.
class Meter {
 public:
  Meter(Output& out, std::string what) : out_(out), what_(std::move(what)), t0_(Clock::now()) {}
  ProgressFn Fn() {
    return [this](size_t done, size_t total) { Show(done, total); };
  }
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - t0_).count(); }
  double Rate(size_t bytes) const {
    const double s = Seconds();
    return s > 0 ? static_cast<double>(bytes) / s : 0.0;
  }

 private:
  void Show(size_t done, size_t total) {
    char line[160];
    if (total > 0) {
      const int fill = static_cast<int>(kBarWidth * done / total);
      std::string bar(static_cast<size_t>(fill), '#');
      bar.append(static_cast<size_t>(kBarWidth - fill), '-');
      std::snprintf(line, sizeof line, "%s [%s] %3zu%% %zu/%zu bytes, %.0f bytes/s", what_.c_str(), bar.c_str(),
                    done * 100 / total, done, total, Rate(done));
    } else {
      std::snprintf(line, sizeof line, "%s %zu bytes, %.0f bytes/s", what_.c_str(), done, Rate(done));
    }
    out_.Progress(line);
  }
  Output& out_;
  std::string what_;
  Clock::time_point t0_;
};

void Figures(Output& out, size_t bytes, const Meter& m) {
  out.Doc()["bytes"] = bytes;
  out.Doc()["seconds"] = m.Seconds();
  out.Doc()["bytesPerSecond"] = m.Rate(bytes);
}

std::string Summary(const std::string& verb, size_t bytes, Memory mem, uint32_t address, const Meter& m) {
  char b[200];
  std::snprintf(b, sizeof b, "%s %zu bytes of %s at %s in %.1f s (%.0f bytes/s)", verb.c_str(), bytes,
                MemoryName(mem), Hex8(address).c_str(), m.Seconds(), m.Rate(bytes));
  return b;
}

// The transfer's last answer as a step; its exit status.
int Outcome(Output& out, const std::string& label, const Transfer& t) {
  out.Doc()["steps"].push_back(out.StepJson(label, t.last, t.ok));
  if (t.ok) return kExitOk;
  out.Step(label, t.last, false);
  return t.last.res == NURVA_RES_resOk ? kExitFault : ExitForFailure(t.last);
}

struct Parsed {
  Memory mem;
  std::optional<uint32_t> address;
  uint32_t size = 0;
};

std::optional<Parsed> ParseArgs(Output& out, const BlockOptions& o, int& exit) {
  Parsed p{};
  auto m = ParseMemory(o.memory);
  uint32_t v = 0;
  std::string why;
  if (!m) {
    why = "MEMORY is flash, eeprom or usrrow";
  } else if (!o.address.empty() && !ParseSize(o.address, v)) {
    why = "--address needs a number (decimal or 0x hex)";
  } else if (!o.size.empty() && (!ParseSize(o.size, p.size) || p.size == 0)) {
    why = "--size needs a number above 0 (decimal, 0x hex, K for KiB)";
  }
  if (!why.empty()) {
    exit = out.Fail(kExitUsage, why);
    return std::nullopt;
  }
  p.mem = *m;
  if (!o.address.empty()) p.address = v;
  return p;
}

int Read(const Common& c, const BlockOptions& o) {
  Output out(c.json);
  int exit = kExitOk;
  auto args = ParseArgs(out, o, exit);
  if (!args) return exit;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  const uint32_t address = args->address.value_or(0);
  Meter meter(out, std::string("reading ") + MemoryName(args->mem));
  hex::Image img{address, {}};
  Transfer t = ReadMemory(p->channel, args->mem, address, args->size, img.data, meter.Fn());
  out.Clear();
  out.Doc()["memory"] = MemoryName(args->mem);
  out.Doc()["address"] = address;
  Figures(out, t.done, meter);
  if ((exit = Outcome(out, "read back", t)) != kExitOk) return out.Finish(exit);
  std::string err;
  if (!SaveFile(o.output, img, err)) return out.Fail(kExitUsage, err);
  out.Doc()["file"] = o.output;
  out.Line("  " + Summary("read", t.done, args->mem, address, meter) + " -> " + o.output +
           (t.ended ? " (to where the programmer stopped delivering)" : ""));
  return out.Finish(kExitOk);
}

int Write(const Common& c, const BlockOptions& o) {
  Output out(c.json);
  int exit = kExitOk;
  auto args = ParseArgs(out, o, exit);
  if (!args) return exit;
  std::string err;
  auto img = LoadFile(o.file, args->address, err);
  if (!img) return out.Fail(kExitUsage, err);
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  Meter meter(out, std::string("writing ") + MemoryName(args->mem) + (o.project ? " of the project" : ""));
  Transfer t = o.project ? WriteProject(p->channel, args->mem, img->base, img->data, meter.Fn())
                         : WriteTarget(p->channel, args->mem, img->base, img->data, meter.Fn());
  out.Clear();
  out.Doc()["memory"] = MemoryName(args->mem);
  out.Doc()["address"] = img->base;
  out.Doc()["into"] = o.project ? "project" : "target";
  Figures(out, t.done, meter);
  if ((exit = Outcome(out, o.project ? "file blocks" : "program blocks", t)) != kExitOk) return out.Finish(exit);
  out.Line("  " + Summary(o.project ? "wrote into the open project" : "programmed", t.done, args->mem, img->base, meter));
  return out.Finish(kExitOk);
}

int Compare(const Common& c, const BlockOptions& o) {
  Output out(c.json);
  int exit = kExitOk;
  auto args = ParseArgs(out, o, exit);
  if (!args) return exit;
  std::string err;
  auto img = LoadFile(o.file, args->address, err);
  if (!img) return out.Fail(kExitUsage, err);
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  const auto size = static_cast<uint32_t>(img->data.size());
  Meter meter(out, std::string("reading ") + MemoryName(args->mem) + (o.project ? " of the project" : ""));
  std::vector<uint8_t> have;
  Transfer t = o.project ? ReadProject(p->channel, args->mem, img->base, size, have, meter.Fn())
                         : ReadMemory(p->channel, args->mem, img->base, size, have, meter.Fn());
  out.Clear();
  out.Doc()["memory"] = MemoryName(args->mem);
  out.Doc()["address"] = img->base;
  Figures(out, t.done, meter);
  if ((exit = Outcome(out, o.project ? "up-file blocks" : "read back", t)) != kExitOk) return out.Finish(exit);

  size_t differ = 0;
  json first = json::array();
  for (size_t i = 0; i < size; ++i) {
    if (have[i] == img->data[i]) continue;
    if (differ++ >= kShownDifferences) continue;
    const uint32_t a = img->base + static_cast<uint32_t>(i);
    first.push_back({{"address", a}, {"read", have[i]}, {"file", img->data[i]}});
    char line[96];
    std::snprintf(line, sizeof line, "  %s: read %02X, file %02X", Hex8(a).c_str(), have[i], img->data[i]);
    out.Problem(line);
  }
  out.Doc()["differences"] = differ;
  out.Doc()["first"] = first;
  if (differ > 0) {
    if (differ > kShownDifferences) out.Problem("  ... " + std::to_string(differ - kShownDifferences) + " more");
    out.Problem("  " + std::to_string(differ) + " of " + std::to_string(size) + " bytes differ");
    return out.Finish(kExitFault);
  }
  out.Line("  " + Summary("compared", size, args->mem, img->base, meter) + ": identical");
  return out.Finish(kExitOk);
}

}  // namespace

void AddBlockCommands(CLI::App& app, const Common& c, Subcommands& out) {
  auto o = std::make_shared<BlockOptions>();
  const char* memHelp = "flash, eeprom or usrrow";
  auto* read = app.add_subcommand("read", "read a memory of the target back into a file (Intel HEX or binary)");
  read->add_option("memory", o->memory, memHelp)->required();
  read->add_option("--address", o->address, "first address (default 0)");
  read->add_option("--size", o->size, "bytes to read (default: up to where the programmer stops delivering)");
  read->add_option("-o,--output", o->output, "the file: .hex, .ihx, .ihex are Intel HEX, others raw binary")
      ->required();
  out.push_back({read, [&c, o] { return Read(c, *o); }});

  auto* write = app.add_subcommand("write", "write a file into the target (program blocks) or the open project");
  write->add_option("memory", o->memory, memHelp)->required();
  write->add_option("file", o->file, "Intel HEX (keeps its addresses) or raw binary")->required();
  write->add_option("--address", o->address, "where the data goes (moves a HEX file; default 0 for binary)");
  write->add_flag("--project", o->project, "into the memory image of the project open on the card (file blocks)");
  out.push_back({write, [&c, o] { return Write(c, *o); }});

  auto* compare = app.add_subcommand("compare", "read a memory back and compare it with a file; exit 1 on a difference");
  compare->add_option("memory", o->memory, memHelp)->required();
  compare->add_option("file", o->file, "Intel HEX or raw binary")->required();
  compare->add_option("--address", o->address, "where the file's data stands (moves a HEX file; default 0 for binary)");
  compare->add_flag("--project", o->project, "compare with the open project's image instead of the target");
  out.push_back({compare, [&c, o] { return Compare(c, *o); }});
}

}  // namespace nurva::cli
