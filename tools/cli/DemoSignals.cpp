#include "tools/cli/DemoSignals.h"

#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/cli/Codes.h"
#include "tools/cli/Output.h"

#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>
#endif

namespace nurva::cli {

namespace fs = std::filesystem;

#ifdef _WIN32

// The Windows build has no demo to clean up after.
DemoSignals::DemoSignals() = default;
DemoSignals::~DemoSignals() = default;
void DemoSignals::Watch(fs::path root, bool keep, bool json) {
  root_ = std::move(root);
  keep_ = keep;
  json_ = json;
}
void DemoSignals::Interrupted(int sig) { std::_Exit(128 + sig); }

#else

namespace {

// How often the watcher looks at its stop flag.
constexpr long kWatchNs = 100'000'000;

}  // namespace

DemoSignals::DemoSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  blocked_ = pthread_sigmask(SIG_BLOCK, &set_, &previous_) == 0;
}

DemoSignals::~DemoSignals() {
  stop_.store(true);
  if (watcher_.joinable()) watcher_.join();
  if (!blocked_) return;
  // A signal that came after the watcher stopped would end the process on unblocking,
  // before the directory is removed.
  const timespec now{0, 0};
  const int sig = sigtimedwait(&set_, nullptr, &now);
  if (sig > 0 && !root_.empty()) Interrupted(sig);
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void DemoSignals::Watch(fs::path root, bool keep, bool json) {
  root_ = std::move(root);
  keep_ = keep;
  json_ = json;
  if (!blocked_) return;
  watcher_ = std::thread([this] {
    const timespec wait{0, kWatchNs};
    while (!stop_.load()) {
      const int sig = sigtimedwait(&set_, nullptr, &wait);
      if (sig > 0) Interrupted(sig);
    }
  });
}

void DemoSignals::Interrupted(int sig) {
  const std::string name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "signal " + std::to_string(sig);
  std::error_code ec;
  if (!keep_) {
    fs::remove_all(root_, ec);
    // The virtual programmer may have created a file while the tree went: once more.
    if (fs::exists(root_, ec)) fs::remove_all(root_, ec);
  }
  const std::string what =
      "interrupted by " + name + (keep_ ? "; kept " : ec ? "; could not remove " : "; removed ") + root_.string();
  if (json_) {
    const Json j{{"ok", false}, {"exit", 128 + sig}, {"error", what}, {"workspace", root_.string()}};
    std::cout << j.dump(2) << std::endl;
  } else {
    std::cout << std::flush;
    std::cerr << "\nnurva: demo " << what << std::endl;
  }
  ::_exit(128 + sig);
}

#endif

}  // namespace nurva::cli
