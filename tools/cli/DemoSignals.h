// SIGINT and SIGTERM while `nurva demo` runs: its temporary bus and card go (unless kept)
// and the process ends with 128 + the signal's number, as a shell expects.
#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#endif

namespace nurva::cli {

class DemoSignals {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread. Made before any other thread starts,
  // so every thread (the library's, the virtual programmer's) inherits the mask and the
  // signals reach only the watcher.
  DemoSignals();
  // Stops the watcher; a signal that came in the meantime is still handled; unblocks.
  ~DemoSignals();
  DemoSignals(const DemoSignals&) = delete;
  DemoSignals& operator=(const DemoSignals&) = delete;

  // Starts the watcher for the temporary directory `root`.
  void Watch(std::filesystem::path root, bool keep, bool json);

 private:
  [[noreturn]] void Interrupted(int sig);

  std::filesystem::path root_;
  bool keep_ = false;
  bool json_ = false;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
#ifndef _WIN32
  sigset_t set_{};
  sigset_t previous_{};
  bool blocked_ = false;
#endif
};

}  // namespace nurva::cli
