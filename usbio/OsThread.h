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
  // Waits at most `ms` for the thread to end; true when it has (or never ran).
  bool JoinFor(uint32_t ms);
  // Waits at most `ms` for the body to return, then makes sure the thread runs none of
  // the library's code any more, without waiting for its exit processing. For use from
  // the library's unload notification only; elsewhere it is Join(). True when the body
  // returned; false when the thread was cut off inside it, so that whatever the body
  // would still have done (clear a flag, release a lock, end an I/O) is left undone.
  bool StopForUnload(uint32_t ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> p_;
};

// One pass over the calling thread's pending window messages, so that a host's user
// interface stays responsive during a long call (Windows; nothing elsewhere). Window
// messages are dispatched as the host's loop would; the host's loop keeps what it needs:
// a WM_QUIT ends the pass and is posted again with its exit code, and messages for the
// thread itself (no window) are posted again in their order. Exports the pass runs
// answer by the re-entry rule of the export frame (api/CallPattern.h).
void DispatchPendingWindowMessages();

}  // namespace nurva::usbio
