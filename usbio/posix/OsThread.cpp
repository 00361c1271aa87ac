#include "usbio/OsThread.h"

#include <system_error>
#include <thread>

namespace nurva::usbio {

struct TOsThread::Impl {
  std::thread t;
};

TOsThread::TOsThread() : p_(std::make_unique<Impl>()) {}
TOsThread::~TOsThread() { Join(); }

bool TOsThread::Start(std::function<void()> body) {
  if (p_->t.joinable()) return false;
  try {
    p_->t = std::thread(std::move(body));
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

void TOsThread::StopForUnload(uint32_t) { Join(); }

void DispatchPendingWindowMessages() {}

}  // namespace nurva::usbio
