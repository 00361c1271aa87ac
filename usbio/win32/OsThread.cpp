#include "usbio/OsThread.h"

#include <windows.h>

namespace nurva::usbio {

struct TOsThread::Impl {
  HANDLE thread = nullptr;
  DWORD id = 0;
  HANDLE bodyDone = nullptr;  // set when the body has returned
  std::function<void()> body;
};

namespace {
// How long a thread whose body has returned gets to end before it is terminated.
constexpr DWORD kExitGraceMs = 100;

DWORD WINAPI ThreadProc(LPVOID arg) {
  auto* p = static_cast<TOsThread::Impl*>(arg);
  p->body();
  SetEvent(p->bodyDone);
  return 0;
}
}  // namespace

TOsThread::TOsThread() : p_(std::make_unique<Impl>()) {}

TOsThread::~TOsThread() {
  Join();
  if (p_->thread) CloseHandle(p_->thread);
  if (p_->bodyDone) CloseHandle(p_->bodyDone);
}

bool TOsThread::Start(std::function<void()> body) {
  if (p_->thread) return false;
  p_->bodyDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!p_->bodyDone) return false;
  p_->body = std::move(body);
  p_->thread = CreateThread(nullptr, 0, ThreadProc, p_.get(), 0, &p_->id);
  return p_->thread != nullptr;
}

bool TOsThread::Running() const {
  return p_->thread && WaitForSingleObject(p_->thread, 0) == WAIT_TIMEOUT;
}

bool TOsThread::IsCurrent() const { return p_->thread && GetCurrentThreadId() == p_->id; }

void TOsThread::Join() {
  if (p_->thread && !IsCurrent()) WaitForSingleObject(p_->thread, INFINITE);
}

void TOsThread::StopForUnload(uint32_t ms) {
  if (!p_->thread || IsCurrent()) return;
  // The thread's exit needs the loader lock, which the unloading thread holds: wait for
  // the body only, then stop the thread wherever it is in its last instructions, so it
  // never runs code of the unmapped library. A terminated thread's end needs no lock.
  //
  // Outside the unload notification nothing holds the loader lock and the thread ends on
  // its own within moments; terminating it there would catch it inside its exit
  // processing, holding the loader lock or a runtime lock for good, and hang the process.
  // So it gets a short while to end before it is terminated.
  WaitForSingleObject(p_->bodyDone, ms);
  if (WaitForSingleObject(p_->thread, kExitGraceMs) == WAIT_TIMEOUT) {
    TerminateThread(p_->thread, 0);
    WaitForSingleObject(p_->thread, 1000);
  }
}

void DispatchPendingWindowMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace nurva::usbio
