#include "tools/cli/JobRunner.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"

namespace nurva::cli {

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  char b[96];
  std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return b;
}

}  // namespace

bool JobRunning(int32_t res) {
  switch (res) {
    case NURVA_RES_resOk:
    case NURVA_RES_eraChip:
    case NURVA_RES_prgFlash:
    case NURVA_RES_prgEEp:
    case NURVA_RES_prgUsrRow:
    case NURVA_RES_verifyFlash:
    case NURVA_RES_verifyEEp:
    case NURVA_RES_verifyUsrRow:
      return true;
    default:
      return false;
  }
}

JobOutcome RunJob(int channel, const JobKind& kind, const std::function<void(const Result&)>& onStatus,
                  int timeoutMs) {
  JobOutcome o;
  const auto t0 = Clock::now();
  o.start = kind.start(channel);
  o.final = o.start;
  if (onStatus) onStatus(o.start);
  if (o.start.res != NURVA_RES_resOk) {
    o.ms = MsSince(t0);
    o.exit = ExitForFailure(o.start);
    return o;
  }
  if (!kind.follows) {
    o.ok = true;
    o.ms = MsSince(t0);
    return o;
  }
  // Each poll waits at most 50 ms for a status, so the loop needs no pause of its own.
  const auto until = t0 + std::chrono::milliseconds(timeoutMs);
  Result last = o.start;
  for (;;) {
    Result r = CallGetProgStatus(channel);
    // Until the first status comes the poll answers resOk with an older text: no change.
    if (r.res != last.res || (r.text != last.text && r.res != NURVA_RES_resOk)) {
      last = r;
      if (onStatus) onStatus(r);
    }
    if (!JobRunning(r.res)) break;
    if (Clock::now() >= until) {
      o.timedOut = true;
      break;
    }
  }
  o.final = last;
  o.ms = MsSince(t0);
  o.ok = !o.timedOut && last.res == NURVA_RES_progDone;
  o.exit = o.ok ? kExitOk : o.timedOut ? kExitNoAnswer : ExitForFailure(last);
  return o;
}

Json StatusJson(const Result& r, double ms) {
  Json j{{"call", r.call}, {"text", r.text}};
  j["res"] = r.res < 0 ? Json(nullptr) : Json(r.res);
  j["code"] = r.res < 0 ? Json(nullptr) : Json(CodeName(r.res));
  j["ms"] = static_cast<int64_t>(ms + 0.5);
  return j;
}

std::string LogLine(const LogRecord& rec) {
  const Result& f = rec.outcome.final;
  Json j;
  j["time"] = UtcNow();
  j["serial"] = rec.serial.empty() ? Json(nullptr) : Json(rec.serial);
  j["project"] = rec.project.empty() ? Json(nullptr) : Json(rec.project);
  j["command"] = rec.command;
  j["res"] = f.res < 0 ? Json(nullptr) : Json(f.res);
  j["code"] = f.res < 0 ? Json(nullptr) : Json(CodeName(f.res));
  j["text"] = rec.outcome.timedOut ? "no final status (timed out): " + f.text : f.text;
  j["ok"] = rec.outcome.ok;
  j["ms"] = static_cast<int64_t>(rec.outcome.ms + 0.5);
  // Control characters are escaped and non-ASCII bytes replaced: one line, always valid.
  return j.dump(-1, ' ', true, Json::error_handler_t::replace);
}

bool AppendLine(const std::string& path, const std::string& line, std::string* err) {
  // One lock for the threads of this process; the append mode keeps other processes'
  // lines whole as well.
  static std::mutex lock;
  std::lock_guard<std::mutex> g(lock);
  const std::string data = line + "\n";
#ifdef _WIN32
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (err) *err = "cannot open " + path;
    return false;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != data.size()) {
    if (err) *err = "cannot write " + path;
    return false;
  }
  return true;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (err) *err = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  const ssize_t n = ::write(fd, data.data(), data.size());
  const int e = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(data.size())) {
    if (err) *err = "cannot write " + path + (n < 0 ? std::string(": ") + std::strerror(e) : ": short write");
    return false;
  }
  return true;
#endif
}

}  // namespace nurva::cli
