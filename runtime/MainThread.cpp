// The queue of calls handed over to the main thread, shared by every platform.
#include "runtime/MainThread.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/HandOver.h"

namespace rt {
namespace {

std::atomic<std::thread::id>& MainId() {
  static std::atomic<std::thread::id> id{std::this_thread::get_id()};
  return id;
}
// Static initialisation runs on the process's main thread, before any worker exists.
[[maybe_unused]] const bool gMainIdTouched = (MainId(), true);

// One queued call. A Synchronize caller waits on done; a Post has nobody waiting.
struct QueuedCall {
  std::function<void()> call;
  bool blocking = false;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr error;
};

struct HandOverState {
  std::mutex m;
  std::deque<std::shared_ptr<QueuedCall>> queue;
  std::function<void()> wake;
  std::function<void(std::exception_ptr)> errorHandler;
};

HandOverState& State() {
  static HandOverState* state = new HandOverState;  // never destroyed: workers may outlive main
  return *state;
}

void Enqueue(std::shared_ptr<QueuedCall> entry) {
  std::function<void()> wake;
  {
    std::lock_guard lock(State().m);
    State().queue.push_back(std::move(entry));
    wake = State().wake;
  }
  SetEvent(detail::HandOverSignal());
  if (wake) wake();
}

void WriteToStandardError(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown background error\n");
  }
}

}  // namespace

namespace detail {
EventHandle HandOverSignal() {
  static EventHandle signal = CreateEventA(false, false);
  return signal;
}
}  // namespace detail

void MarkMainThread() {
  MainId() = std::this_thread::get_id();
}
bool IsMainThread() {
  return MainId().load() == std::this_thread::get_id();
}

void SetMainThreadWakeup(std::function<void()> wake) {
  std::lock_guard lock(State().m);
  State().wake = std::move(wake);
}

void Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  auto entry = std::make_shared<QueuedCall>();
  entry->call = call;
  entry->blocking = true;
  Enqueue(entry);
  std::exception_ptr error;
  {
    std::unique_lock lock(entry->m);
    entry->cv.wait(lock, [&] { return entry->done; });
    // Taken out under the lock so that only this thread holds the exception from here on.
    error = std::move(entry->error);
  }
  if (error) std::rethrow_exception(error);
}

void Post(std::function<void()> call) {
  auto entry = std::make_shared<QueuedCall>();
  entry->call = std::move(call);
  Enqueue(std::move(entry));
}

namespace {

// Takes the oldest queued call, or the oldest blocking one when posted calls are to wait.
std::shared_ptr<QueuedCall> TakeNext(bool includePosted) {
  std::lock_guard lock(State().m);
  auto& queue = State().queue;
  for (auto it = queue.begin(); it != queue.end(); ++it) {
    if (!includePosted && !(*it)->blocking) continue;
    auto entry = std::move(*it);
    queue.erase(it);
    return entry;
  }
  return nullptr;
}

void Run(QueuedCall& entry) {
  if (!entry.blocking) {
    // A posted call has nobody to hand its failure back to.
    try {
      entry.call();
    } catch (...) {
      ReportBackgroundError(std::current_exception());
    }
    return;
  }
  std::exception_ptr error;
  try {
    entry.call();
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard lock(entry.m);
    entry.error = std::move(error);
    entry.done = true;
  }
  // After the unlock, so the worker does not wake only to block on the mutex; the caller's
  // shared record keeps the condition variable alive.
  entry.cv.notify_all();
}

bool RunQueued(bool includePosted) {
  if (!IsMainThread()) return false;
  bool ranAny = false;
  while (auto entry = TakeNext(includePosted)) {
    ranAny = true;
    Run(*entry);
  }
  return ranAny;
}

}  // namespace

bool CheckSynchronize() {
  return RunQueued(true);
}

namespace detail {
bool RunBlockedCalls() {
  return RunQueued(false);
}
}  // namespace detail

void SetBackgroundErrorHandler(std::function<void(std::exception_ptr)> handler) {
  std::lock_guard lock(State().m);
  State().errorHandler = std::move(handler);
}

void ReportBackgroundError(std::exception_ptr error) {
  Post([error] {
    std::function<void(std::exception_ptr)> handler;
    {
      std::lock_guard lock(State().m);
      handler = State().errorHandler;
    }
    if (!handler) {
      WriteToStandardError(error);
      return;
    }
    try {
      handler(error);
    } catch (...) {
      // Reporting the handler's own failure through it again could go on for ever.
      WriteToStandardError(error);
      WriteToStandardError(std::current_exception());
    }
  });
}

}  // namespace rt
