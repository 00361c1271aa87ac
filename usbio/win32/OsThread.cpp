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
// How long a terminated thread gets to be gone.
constexpr DWORD kTerminateWaitMs = 1000;
// Most messages one pass dispatches: a window that posts itself a message for every
// message it handles would otherwise hold the pass for good.
constexpr int kMaxMessagesPerPass = 512;
// Most messages for the thread itself that one pass takes and posts again.
constexpr int kMaxKeptThreadMessages = 64;

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

bool TOsThread::JoinFor(uint32_t ms) {
  if (!p_->thread || IsCurrent()) return true;
  return WaitForSingleObject(p_->thread, ms) == WAIT_OBJECT_0;
}

bool TOsThread::StopForUnload(uint32_t ms) {
  if (!p_->thread || IsCurrent()) return true;
  // The thread's exit needs the loader lock, which the unloading thread holds: wait for
  // the body only, then stop the thread wherever it is in its last instructions, so it
  // never runs code of the unmapped library. A terminated thread's end needs no lock.
  //
  // Outside the unload notification nothing holds the loader lock and the thread ends on
  // its own within moments; terminating it there would catch it inside its exit
  // processing, holding the loader lock or a runtime lock for good, and hang the process.
  // So it gets a short while to end before it is terminated.
  const bool bodyReturned = WaitForSingleObject(p_->bodyDone, ms) == WAIT_OBJECT_0;
  if (WaitForSingleObject(p_->thread, kExitGraceMs) == WAIT_TIMEOUT) {
    TerminateThread(p_->thread, 0);
    WaitForSingleObject(p_->thread, kTerminateWaitMs);
  }
  // The body may have returned between the wait and the termination.
  return bodyReturned || WaitForSingleObject(p_->bodyDone, 0) == WAIT_OBJECT_0;
}

void DispatchPendingWindowMessages() {
  // Messages without a window belong to the host's own loop: DispatchMessage would drop
  // them. They are put back at the end of the pass; a thread timer with a callback is a
  // window-less message the host's loop would dispatch, and so it is dispatched here.
  MSG kept[kMaxKeptThreadMessages];
  int nKept = 0;
  bool quit = false;
  WPARAM exitCode = 0;
  MSG msg;
  for (int n = 0; n < kMaxMessagesPerPass && nKept < kMaxKeptThreadMessages; ++n) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    if (msg.message == WM_QUIT) {
      // Only comes once the posted messages are gone; the host's loop is to see it.
      quit = true;
      exitCode = msg.wParam;
      break;
    }
    if (msg.hwnd == nullptr && !(msg.message == WM_TIMER && msg.lParam != 0)) {
      kept[nKept++] = msg;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  const DWORD self = GetCurrentThreadId();
  for (int i = 0; i < nKept; ++i) PostThreadMessageW(self, kept[i].message, kept[i].wParam, kept[i].lParam);
  if (quit) PostQuitMessage(static_cast<int>(exitCode));
}

}  // namespace nurva::usbio
