#include "tools/cli/Output.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define NURVA_ISATTY _isatty
#define NURVA_STDERR 2
#else
#include <unistd.h>
#define NURVA_ISATTY isatty
#define NURVA_STDERR STDERR_FILENO
#endif

#include "tools/cli/Codes.h"

namespace nurva::cli {

using json = Json;

namespace {
bool g_quiet = false;
}

void SetQuiet(bool on) { g_quiet = on; }
bool Quiet() { return g_quiet; }

Output::Output(bool asJson) : json_(asJson), tty_(NURVA_ISATTY(NURVA_STDERR) != 0 && !g_quiet) {}

void Output::Line(const std::string& s) {
  if (json_ || g_quiet) return;
  Clear();
  std::cout << s << std::endl;
}

void Output::Problem(const std::string& s) {
  if (json_) return;
  Clear();
  (g_quiet ? std::cerr : std::cout) << s << std::endl;
}

static std::string Pad(std::string s, size_t w) {
  if (s.size() < w) s.append(w - s.size(), ' ');
  return s;
}

void Output::Step(const std::string& label, const Result& r, bool ok) {
  std::string code = r.res < 0 ? "no code" : std::to_string(r.res) + " " + CodeName(r.res);
  const std::string line =
      "  " + Pad(label, 20) + Pad(r.text.empty() ? "(no text)" : r.text, 32) + " [" + code + "]";
  if (ok)
    Line(line);
  else
    Problem(line + "  FAILED");
}

json Output::StepJson(const std::string& label, const Result& r, bool ok) const {
  json j{{"step", label}, {"call", r.call}, {"text", r.text}, {"ok", ok}};
  j["res"] = r.res < 0 ? json(nullptr) : json(r.res);
  j["code"] = r.res < 0 ? json(nullptr) : json(CodeName(r.res));
  return j;
}

int Output::Fail(int exit, const std::string& error, const std::vector<Programmer>& candidates) {
  Clear();
  if (json_) {
    doc_["error"] = error;
    if (!candidates.empty()) {
      doc_["candidates"] = json::array();
      for (const auto& p : candidates) doc_["candidates"].push_back(ProgrammerJson(p));
    }
    return Finish(exit);
  }
  std::cerr << "nurva: " << error << "\n";
  for (const auto& p : candidates)
    std::cerr << "  channel " << p.channel << "  serial " << (p.serial.empty() ? "(unknown)" : p.serial) << "\n";
  return exit;
}

int Output::Finish(int exit) {
  Clear();
  if (json_) {
    doc_["ok"] = exit == kExitOk;
    doc_["exit"] = exit;
    std::cout << doc_.dump(2) << std::endl;
  }
  return exit;
}

void Output::Progress(const std::string& what) {
  if (!tty_) return;
  std::fprintf(stderr, "\r%s ...\033[K", what.c_str());
  std::fflush(stderr);
  progressShown_ = true;
}

void Output::Clear() {
  if (!progressShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  progressShown_ = false;
}

json ProgrammerJson(const Programmer& p) {
  return {{"channel", p.channel}, {"serial", p.serial.empty() ? json(nullptr) : json(p.serial)}};
}

namespace {

std::string SelectorText(uint8_t selector, bool quoted) {
  char b[8];
  if (selector >= 0x20 && selector < 0x7F)
    std::snprintf(b, sizeof b, quoted ? "'%c'" : "%c", static_cast<char>(selector));
  else
    std::snprintf(b, sizeof b, "0x%02X", selector);
  return b;
}

}  // namespace

json SelectorJson(uint8_t selector) { return SelectorText(selector, false); }

std::string FuseText(uint8_t selector, int32_t fuse) {
  char b[32];
  std::snprintf(b, sizeof b, "0x%02X", static_cast<unsigned>(fuse) & 0xFFu);
  return "fuse " + SelectorText(selector, true) + " = " + b;
}

}  // namespace nurva::cli
