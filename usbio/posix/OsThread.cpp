#include "usbio/OsThread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace nurva::usbio {

struct TOsThread::Impl {
  std::thread t;
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;  // the body has returned
};

TOsThread::TOsThread() : p_(std::make_unique<Impl>()) {}
TOsThread::~TOsThread() { Join(); }

bool TOsThread::Start(std::function<void()> body) {
  if (p_->t.joinable()) return false;
  try {
    p_->ended = false;
    p_->t = std::thread([p = p_.get(), body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> g(p->m);
      p->ended = true;
      p->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool TOsThread::Running() const { return p_->t.joinable(); }
bool TOsThread::IsCurrent() const { return p_->t.get_id() == std::this_thread::get_id(); }

void TOsThread::Join() {
  if (p_->t.joinable() && !IsCurrent()) p_->t.join();
}

bool TOsThread::JoinFor(uint32_t ms) {
  if (!p_->t.joinable() || IsCurrent()) return true;
  std::unique_lock<std::mutex> g(p_->m);
  if (!p_->cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return p_->ended; })) return false;
  g.unlock();
  p_->t.join();  // only the thread's last instructions are left
  return true;
}

bool TOsThread::StopForUnload(uint32_t) {
  Join();
  return true;
}

void DispatchPendingWindowMessages() {}

}  // namespace nurva::usbio
