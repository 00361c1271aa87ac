// A thread with the two ways of ending that the links need: an ordinary join, and the
// stop used while the library is being unloaded on Windows, where waiting for a thread's
// exit would wait for the loader lock that the unloading thread holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace nurva::usbio {

class TOsThread {
 public:
  TOsThread();
  ~TOsThread();  // joins a thread that is still running
  TOsThread(const TOsThread&) = delete;
  TOsThread& operator=(const TOsThread&) = delete;

  // Starts `body` on a new thread; false when the platform could not make one.
  bool Start(std::function<void()> body);
  bool Running() const;
  bool IsCurrent() const;
  // Waits until the thread has ended.
  void Join();
  // Waits at most `ms` for the body to return, then makes sure the thread runs none of
  // the library's code any more, without waiting for its exit processing. For use from
  // the library's unload notification only; elsewhere it is Join().
  void StopForUnload(uint32_t ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> p_;
};

// One pass over the calling thread's pending window messages (Windows); nothing elsewhere.
void DispatchPendingWindowMessages();

}  // namespace nurva::usbio
