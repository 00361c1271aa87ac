// Subcommands of the project files on the card and the download: files, open, close,
// delete, state, download.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "api/NURVA_DLL.h"
#include "tools/cli/Codes.h"
#include "tools/cli/Commands.h"

namespace nurva::cli {

namespace {

using json = Json;
using Clock = std::chrono::steady_clock;

// Card names are 8-bit strings in any code page; JSON wants UTF-8. A byte that starts no
// valid sequence becomes U+FFFD.
std::string Utf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool valid = n > 0 && i + n <= s.size() && !(n == 2 && b < 0xC2);
    for (size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    out += valid ? s.substr(i, n) : "\xEF\xBF\xBD";
    i += valid ? n : 1;
  }
  return out;
}

Result ForJson(Result r) {
  r.text = Utf8(r.text);
  return r;
}

// One export on the selected programmer, recorded as a step.
template <class Call>
int OneStep(const Common& c, const std::string& label, int32_t wanted, Call call) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  return out.Finish(Record(out, label, ForJson(call(p->channel)), wanted));
}

int Files(const Common& c) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  Result r = CallGetFileNames(p->channel);
  const std::vector<std::string> names = r.res == NURVA_RES_resOk ? ListingNames(r.text) : std::vector<std::string>{};
  Result shown = r;
  if (r.res == NURVA_RES_resOk) shown.text = std::to_string(names.size()) + " file(s)";
  exit = Record(out, "list files", ForJson(shown), NURVA_RES_resOk);
  if (exit != kExitOk) return out.Finish(exit);
  out.Doc()["files"] = json::array();
  for (const auto& n : names) {
    out.Line("  " + n);
    out.Doc()["files"].push_back(Utf8(n));
  }
  return out.Finish(kExitOk);
}

int State(const Common& c) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  const Result r = CallGetFileState(p->channel);
  // "file closed" is an answer too: no project is open.
  const bool closed = r.res == NURVA_RES_invFName;
  exit = Record(out, "file state", ForJson(r), closed ? NURVA_RES_invFName : NURVA_RES_resOk);
  if (exit == kExitOk) out.Doc()["open"] = closed ? json(nullptr) : json(Utf8(r.text));
  return out.Finish(exit);
}

// Elapsed time on the terminal while the download runs; the export blocks the calling
// thread until it has an answer.
class Ticker {
 public:
  Ticker(Output& out, std::string what) : out_(out), what_(std::move(what)), t0_(Clock::now()) {
    thread_ = std::thread([this] {
      while (!done_.load()) {
        char secs[32];
        std::snprintf(secs, sizeof secs, "%.1f s", Seconds());
        out_.Progress(what_ + ", " + secs);
        for (int i = 0; i < 10 && !done_.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ~Ticker() { Stop(); }
  void Stop() {
    done_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  double Seconds() const { return std::chrono::duration<double>(Clock::now() - t0_).count(); }

 private:
  Output& out_;
  std::string what_;
  Clock::time_point t0_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

int Download(const Common& c, const std::string& file) {
  Output out(c.json);
  int exit = kExitOk;
  auto p = Select(out, c, exit);
  if (!p) return exit;
  out.Doc()["steps"] = json::array();
  out.Doc()["file"] = Utf8(file);
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  const uint64_t bytes = ec ? 0 : size;
  const uint64_t blocks = bytes == 0 ? 1 : (bytes + 127) / 128;

  Ticker ticker(out, "downloading " + std::to_string(bytes) + " bytes in " + std::to_string(blocks) + " blocks");
  const Result r = CallDownloadFile(p->channel, file);
  ticker.Stop();
  const double secs = ticker.Seconds();
  exit = Record(out, "download", ForJson(r), NURVA_RES_resOk);
  out.Doc()["seconds"] = secs;
  if (exit != kExitOk) return out.Finish(exit);
  const double rate = secs > 0 ? static_cast<double>(bytes) / secs : 0.0;
  out.Doc()["bytes"] = bytes;
  out.Doc()["blocks"] = blocks;
  out.Doc()["bytesPerSecond"] = rate;
  char line[160];
  std::snprintf(line, sizeof line, "  %llu bytes in %llu blocks, %.2f s, %.0f bytes/s",
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(blocks), secs, rate);
  out.Line(line);
  return out.Finish(kExitOk);
}

}  // namespace

void AddFileCommands(CLI::App& app, const Common& c, Subcommands& out) {
  struct Options {
    std::string openName, deleteName, file;
  };
  auto o = std::make_shared<Options>();
  auto* files = app.add_subcommand("files", "list the project files on the programmer's card");
  out.push_back({files, [&c] { return Files(c); }});
  auto* open = app.add_subcommand("open", "open a project file on the card for the jobs");
  open->add_option("name", o->openName, "the file's name on the card")->required();
  out.push_back({open, [&c, o] {
                   return OneStep(c, "open project", NURVA_RES_resOk,
                                  [&](int ch) { return CallOpenAfile(ch, o->openName); });
                 }});
  auto* close = app.add_subcommand("close", "close the open project");
  out.push_back({close, [&c] { return OneStep(c, "close project", NURVA_RES_resOk, CallCloseAfile); }});
  auto* del = app.add_subcommand("delete", "delete a file from the card");
  del->add_option("name", o->deleteName, "the file's name on the card")->required();
  out.push_back({del, [&c, o] {
                   return OneStep(c, "delete file", NURVA_RES_resOk,
                                  [&](int ch) { return CallDeleteAfile(ch, o->deleteName); });
                 }});
  auto* state = app.add_subcommand("state", "tell which project is open");
  out.push_back({state, [&c] { return State(c); }});
  auto* download = app.add_subcommand("download", "copy a project file (.pack, .pac, .en*, .pk*) onto the card");
  download->add_option("file", o->file, "the project file on this computer")->required();
  out.push_back({download, [&c, o] { return Download(c, o->file); }});
}

}  // namespace nurva::cli
