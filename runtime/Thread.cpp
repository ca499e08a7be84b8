// The worker thread object, on std::thread for every platform; only the wait that keeps
// serving the main thread's hand-over differs per platform.
#include "runtime/Thread.h"

#include <mutex>
#include <thread>

#include "runtime/Event.h"
#include "runtime/HandOver.h"
#include "runtime/MainThread.h"

namespace rt {

struct Thread::Impl {
  std::mutex m;
  std::thread thread;
  bool started = false;
  Event finished{true, false};
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  TerminateAndWait();
  std::lock_guard lock(impl_->m);
  if (impl_->thread.joinable()) impl_->thread.join();
}

void Thread::Resume() {
  std::lock_guard lock(impl_->m);
  if (impl_->started) return;
  impl_->thread = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      fatal_ = std::current_exception();
    }
    impl_->finished.Set();
  });
  // Only once the thread exists: a start the system refused leaves no body to wait for, and
  // a later Resume may try again.
  impl_->started = true;
}

void Thread::WaitFor() {
  {
    std::lock_guard lock(impl_->m);
    // A body that never started has nothing to wait for; waiting on itself would never end.
    if (!impl_->started || impl_->thread.get_id() == std::this_thread::get_id()) return;
  }
  detail::WaitServingHandOver(impl_->finished.Handle());
}

bool Thread::Finished() const {
  return WaitForSingleObject(impl_->finished.Handle(), 0) == kWaitObject0;
}

void Thread::Synchronize(const std::function<void()>& call) {
  rt::Synchronize(call);
}

void Thread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

}  // namespace rt
