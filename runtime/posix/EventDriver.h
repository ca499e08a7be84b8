// Waits that do the work they wait for.
//
// A port's transfers complete when someone watches its line. Rather than have a thread of the
// port's own watch it and then wake the thread that waits for the completion (two wake-ups for
// every byte), the port attaches itself to the events of its pending transfers, and a thread
// that waits for such an event watches the line itself while it waits: the byte wakes the
// thread that wanted it, and no other.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include "runtime/Event.h"

namespace rt {

class EventDriver {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~EventDriver() = default;

  // Called by a thread that waits for an event this driver completes, while none of the events
  // of its wait is set. Either does the work that completes such events, or (while another
  // thread does it) sleeps. Returns once woken is true (an event of the wait was set: by
  // another thread, which then also writes wakeFd, an eventfd; or by this one, which does not),
  // at the deadline, or when the caller should look at its events again (wakeFd was written).
  // Never reads wakeFd. A thread that returned from Drive comes back to it, or calls Leave,
  // without waiting for anything else in between.
  virtual void Drive(int wakeFd, const std::atomic<bool>& woken,
                     std::optional<Clock::time_point> deadline) = 0;
  // Called when the thread with wakeFd stops driving: its wait has ended, or it drives another
  // driver now.
  virtual void Leave(int wakeFd) { (void)wakeFd; }
  // A thread waits for an event this driver completes while it drives another driver (its wait
  // includes events of both): until Unattend, the driver sees to its work without it.
  virtual void Attend() {}
  virtual void Unattend() {}
};

// Waits for event are driven by driver from now on, for as long as the driver exists. A thread
// already waiting for the event is woken to drive it.
void SetEventDriver(EventHandle event, const std::weak_ptr<EventDriver>& driver);

// The eventfd through which the calling thread is woken from driven waits: made on its first
// such wait and kept, for all its later ones, until the thread ends. -1 if none can be made.
int WakeFdOfThisThread();

}  // namespace rt
