#include "tools/cli/CallLog.h"

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "tools/cli/Codes.h"

namespace nurva::cli {

namespace {

std::atomic<bool> g_trace{false};
std::mutex g_traceLock;  // the jobs of --all call from one thread per programmer

}  // namespace

void SetCallTrace(bool on) { g_trace.store(on); }
bool CallTrace() { return g_trace.load(); }

void TraceLine(const std::string& call, const std::string& args, const std::string& answer, double ms) {
  char took[32];
  std::snprintf(took, sizeof took, "%.1f ms", ms);
  std::lock_guard<std::mutex> g(g_traceLock);
  std::cerr << "nurva: " << call << "(" << args << ") -> " << answer << "  [" << took << "]" << std::endl;
}

std::string Quoted(const std::string& text) {
  std::string q = "\"";
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '\r') {
      q += "\\r";
    } else if (b == '\n') {
      q += "\\n";
    } else if (b == '"' || b == '\\') {
      q += '\\';
      q += ch;
    } else if (b < 0x20 || b >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      q += hex;
    } else {
      q += ch;
    }
  }
  return q + "\"";
}

std::string Answer(const Result& r) {
  const std::string code = r.res < 0 ? "no code" : "res " + std::to_string(r.res) + " " + CodeName(r.res);
  return code + ", text " + Quoted(r.text);
}

void CallLog::Done(const std::string& extra) {
  r_.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0_).count();
  if (CallTrace()) TraceLine(r_.call, args_, Answer(r_) + (extra.empty() ? "" : ", " + extra), r_.ms);
}

}  // namespace nurva::cli
