// Events on POSIX: each one a flag guarded by its own mutex, plus the waiters registered on it.
//
// A wait for several events registers one waiter (a mutex, a condition variable and a
// "notified" flag) with each of them; SetEvent notifies the waiters registered on that event.
// So a thread waits on any number of events at once and sleeps until one is set, with no
// polling. Handles are serial numbers looked up in a registry, never reused, so a handle that
// was closed is recognised as such instead of reaching freed memory.
//
// An event may have a driver (EventDriver.h): a wait that includes it sleeps in the driver,
// which watches what completes the event, and is woken through an eventfd of the thread's own
// instead of the condition variable.
#include "runtime/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "runtime/posix/EventDriver.h"

namespace rt {
namespace {

using Clock = std::chrono::steady_clock;

struct Waiter {
  std::mutex m;
  std::condition_variable cv;
  // Written under m; read without it by the driver of a driven wait.
  std::atomic<bool> notified{false};
  int fd = -1;  // when the wait is driven: written instead of notifying cv
  std::thread::id owner = std::this_thread::get_id();
};

struct EventObject {
  std::mutex m;
  bool manualReset = false;
  bool signalled = false;
  std::vector<Waiter*> waiters;
  std::weak_ptr<EventDriver> driver;
};

// The eventfd through which this thread is woken from a driven wait; -1 when none can be made
// (the wait then sleeps on its condition variable, undriven).
class ThreadWakeFd {
 public:
  ~ThreadWakeFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() {
    if (fd_ < 0 && !failed_) {
      fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      failed_ = fd_ < 0;
    }
    return fd_;
  }

 private:
  int fd_ = -1;
  bool failed_ = false;
};

void DrainWakeFd(int fd) {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
}

// Sleeps on fd until it is readable or the deadline passes.
void SleepOnWakeFd(int fd, bool infinite, Clock::time_point deadline) {
  int timeoutMs = -1;
  if (!infinite) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return;
    timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
  }
  pollfd pfd{fd, POLLIN, 0};
  ::poll(&pfd, 1, timeoutMs);
}

class Registry {
 public:
  EventHandle Add(std::shared_ptr<EventObject> event) {
    std::lock_guard lock(m_);
    std::uintptr_t id = ++lastId_;
    events_.emplace(id, std::move(event));
    return reinterpret_cast<EventHandle>(id);
  }
  std::shared_ptr<EventObject> Find(EventHandle handle) {
    std::lock_guard lock(m_);
    auto it = events_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == events_.end() ? nullptr : it->second;
  }
  bool Remove(EventHandle handle) {
    std::lock_guard lock(m_);
    return events_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
  }

 private:
  std::mutex m_;
  std::uintptr_t lastId_ = 0;
  std::unordered_map<std::uintptr_t, std::shared_ptr<EventObject>> events_;
};

Registry& Events() {
  static Registry* registry = new Registry;  // threads may still use events at exit
  return *registry;
}

// Locks a set of events in address order, so two multi-waits never deadlock each other.
class LockedEvents {
 public:
  explicit LockedEvents(const std::vector<std::shared_ptr<EventObject>>& events) {
    for (const auto& e : events) distinct_.push_back(e.get());
    std::sort(distinct_.begin(), distinct_.end());
    distinct_.erase(std::unique(distinct_.begin(), distinct_.end()), distinct_.end());
    for (EventObject* e : distinct_) e->m.lock();
  }
  ~LockedEvents() {
    for (auto it = distinct_.rbegin(); it != distinct_.rend(); ++it) (*it)->m.unlock();
  }
  const std::vector<EventObject*>& Distinct() const { return distinct_; }

 private:
  std::vector<EventObject*> distinct_;
};

// With the events locked: the lowest signalled index, consuming it if auto-reset.
std::optional<std::uint32_t> TakeSignalled(
    const std::vector<std::shared_ptr<EventObject>>& events) {
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (!events[i]->signalled) continue;
    if (!events[i]->manualReset) events[i]->signalled = false;
    return static_cast<std::uint32_t>(i);
  }
  return std::nullopt;
}

void Unregister(const LockedEvents& locked, Waiter* waiter) {
  for (EventObject* e : locked.Distinct()) {
    std::erase(e->waiters, waiter);
  }
}

// With the events locked: the drivers of the wait's events, each once, in the events' order.
std::vector<std::shared_ptr<EventDriver>> DriversOf(
    const std::vector<std::shared_ptr<EventObject>>& events) {
  std::vector<std::shared_ptr<EventDriver>> drivers;
  for (const auto& e : events) {
    auto driver = e->driver.lock();
    if (driver && std::find(drivers.begin(), drivers.end(), driver) == drivers.end()) {
      drivers.push_back(std::move(driver));
    }
  }
  return drivers;
}

// The drivers a wait drives (the first) and attends (the others), told when that changes and
// when the wait ends.
class DriverRoles {
 public:
  ~DriverRoles() {
    if (driven_) driven_->Leave(wakeFd_);
    for (const auto& d : attended_) d->Unattend();
  }
  // Takes the roles for the drivers now found; returns the one to drive, if any. Without a
  // wake-up fd the thread drives none and attends them all.
  std::shared_ptr<EventDriver> Assign(const std::vector<std::shared_ptr<EventDriver>>& drivers,
                                      int wakeFd) {
    const std::size_t firstAttended = wakeFd >= 0 && !drivers.empty() ? 1 : 0;
    std::shared_ptr<EventDriver> driven = firstAttended ? drivers.front() : nullptr;
    // Attended first, so that no driver is left unwatched while the roles change.
    for (std::size_t i = firstAttended; i < drivers.size(); ++i) {
      if (std::find(attended_.begin(), attended_.end(), drivers[i]) != attended_.end()) continue;
      drivers[i]->Attend();
      attended_.push_back(drivers[i]);
    }
    std::erase_if(attended_, [&](const std::shared_ptr<EventDriver>& d) {
      if (std::find(drivers.begin() + static_cast<std::ptrdiff_t>(firstAttended), drivers.end(),
                    d) != drivers.end()) {
        return false;
      }
      d->Unattend();
      return true;
    });
    if (driven_ && driven_ != driven) driven_->Leave(wakeFd_);
    driven_ = driven;
    wakeFd_ = wakeFd;
    return driven;
  }

 private:
  std::shared_ptr<EventDriver> driven_;
  int wakeFd_ = -1;
  std::vector<std::shared_ptr<EventDriver>> attended_;
};

// With the event locked: wakes its waiters as SetEvent does, without setting it, so that they
// look at their events again.
void WakeWaiters(EventObject& event) {
  for (Waiter* waiter : event.waiters) {
    int fd;
    {
      std::lock_guard waiterLock(waiter->m);
      waiter->notified = true;
      fd = waiter->fd;
    }
    // Outside the waiter's mutex, so the waiter does not wake only to block on it. It stays
    // alive: it cannot leave its wait without this event's lock, which is still held. A driver
    // that wakes its own thread needs no wake-up: the thread sees the flag.
    if (fd >= 0) {
      if (waiter->owner == std::this_thread::get_id()) continue;
      const std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    } else {
      waiter->cv.notify_one();
    }
  }
}

std::uint32_t WaitForEvents(const std::vector<std::shared_ptr<EventObject>>& events,
                            std::uint32_t timeoutMs) {
  const bool infinite = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  Waiter waiter;
  bool registered = false;
  // A driven wait gets one round of work even when its time is up (a wait of 0 ms looks at the
  // line once, as a completion that had happened in the background would be seen).
  bool droveAfterDeadline = false;
  // Every way out of the wait tells the drivers it drove or attended that this thread has gone.
  DriverRoles roles;
  for (;;) {
    std::vector<std::shared_ptr<EventDriver>> drivers;
    {
      LockedEvents locked(events);
      if (auto index = TakeSignalled(events)) {
        if (registered) Unregister(locked, &waiter);
        return kWaitObject0 + *index;
      }
      drivers = DriversOf(events);
      const bool driven = !drivers.empty();
      const bool late = !infinite && Clock::now() >= deadline;
      if (late && (!driven || droveAfterDeadline)) {
        if (registered) Unregister(locked, &waiter);
        return kWaitTimeout;
      }
      droveAfterDeadline = late;
      if (!registered) {
        for (EventObject* e : locked.Distinct()) e->waiters.push_back(&waiter);
        registered = true;
      }
      // Cleared while the events are locked, so a SetEvent after the unlock is not missed.
      std::lock_guard lock(waiter.m);
      if (driven && waiter.fd < 0) waiter.fd = WakeFdOfThisThread();
      // The driver writes the fd too (to hand a waiting thread the lead), so it is always
      // emptied here, where no SetEvent can slip in between.
      if (waiter.fd >= 0) DrainWakeFd(waiter.fd);
      waiter.notified = false;
    }
    // The wait drives the first driver of its events; the others see to their work themselves
    // meanwhile.
    const std::shared_ptr<EventDriver> driver = roles.Assign(drivers, waiter.fd);
    if (waiter.fd >= 0) {
      // Once the wait has an fd, SetEvent writes it: it sleeps on the fd from then on.
      if (driver) {
        driver->Drive(waiter.fd, waiter.notified,
                      infinite ? std::nullopt : std::optional(deadline));
      } else {
        SleepOnWakeFd(waiter.fd, infinite, deadline);
      }
      continue;
    }
    std::unique_lock lock(waiter.m);
    if (infinite) {
      waiter.cv.wait(lock, [&] { return waiter.notified.load(); });
    } else {
      waiter.cv.wait_until(lock, deadline, [&] { return waiter.notified.load(); });
    }
  }
}

}  // namespace

EventHandle CreateEventA(bool manualReset, bool initialState) {
  auto event = std::make_shared<EventObject>();
  event->manualReset = manualReset;
  event->signalled = initialState;
  return Events().Add(std::move(event));
}

bool SetEvent(EventHandle handle) {
  auto event = Events().Find(handle);
  if (!event) return false;
  std::lock_guard lock(event->m);
  event->signalled = true;
  WakeWaiters(*event);
  return true;
}

int WakeFdOfThisThread() {
  thread_local ThreadWakeFd wake;
  return wake.Get();
}

void SetEventDriver(EventHandle handle, const std::weak_ptr<EventDriver>& driver) {
  auto event = Events().Find(handle);
  if (!event) return;
  std::lock_guard lock(event->m);
  if (event->driver.lock() == driver.lock()) return;
  event->driver = driver;
  // A thread that went to sleep on the event before it had this driver must drive it now.
  WakeWaiters(*event);
}

bool ResetEvent(EventHandle handle) {
  auto event = Events().Find(handle);
  if (!event) return false;
  std::lock_guard lock(event->m);
  event->signalled = false;
  return true;
}

bool CloseEvent(EventHandle handle) {
  return handle != nullptr && Events().Remove(handle);
}

std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t timeoutMs) {
  return WaitForMultipleObjects(1, &event, timeoutMs);
}

std::uint32_t WaitForMultipleObjects(std::uint32_t count, const EventHandle* handles,
                                     std::uint32_t timeoutMs) {
  constexpr std::uint32_t kMaximumWaitObjects = 64;
  if (count == 0 || count > kMaximumWaitObjects || handles == nullptr) return kWaitFailed;
  std::vector<std::shared_ptr<EventObject>> events;
  events.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto event = Events().Find(handles[i]);
    if (!event) return kWaitFailed;
    events.push_back(std::move(event));
  }
  return WaitForEvents(events, timeoutMs);
}

}  // namespace rt
