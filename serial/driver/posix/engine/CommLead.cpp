// Who watches a port's line: the lead, held by a thread that waits for one of the port's
// transfers or by the engine thread, and handed on whenever its holder stops.
//
// The invariant (docs/POSIX-ENGINE.md, "Threads and cost"): while the port is open, whenever
// its lock is free, if the lead is needed it is held, by exactly one of
// - a thread polling the line (leading_: a waiter, a call that looks once, or the engine),
// - a waiting thread it was handed to (handedTo_), which comes back to Drive or calls Leave,
// - the engine thread, called to take it (engineHanded_).
// It is needed while a thread waits in Drive for it (a follower), or something pending must
// progress by itself (EngineShouldLead). Every place that gives the lock up keeps it so:
// ReleaseLead, Leave and every call (AfterCall) pass the lead on; a call that changes what the
// leader's poll waits for wakes it (Nudge). Debug builds check it there (CheckLead).
#include <poll.h>
#include <unistd.h>

#include <cassert>

#include "serial/driver/posix/engine/CommPort.h"
#include "serial/driver/posix/engine/OverlappedBlock.h"

namespace drv::posix {
namespace {

void WriteWakeUp(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

void CommPort::Wake() {
  WriteWakeUp(wakeFd_);
}

// Something pending progresses only while the line is watched, whoever waits: a read's or a
// write's deadline, a write the line holds back, the drain check, output of the line's own. A
// pending comm-event wait only while a thread waits for it from another port's poll (a wait on
// events of both); otherwise it waits until someone looks (a wait for its event, any call that
// reads the line), as its events then are the history the Windows driver would have kept.
bool CommPort::EngineShouldLead() const {
  if (stopping_) return false;
  if (!reads_.empty() || !writes_.empty() || drainCheckAt_) return true;
  if (hungUp_) return false;
  return line_->OwnOutputWaiting() || (waitOv_ != nullptr && attendants_ > 0);
}

bool CommPort::LeadNeeded() const {
  return !followers_.empty() || EngineShouldLead();
}

bool CommPort::LeadHeld() const {
  return leading_ || handedTo_ >= 0 || engineHanded_;
}

void CommPort::CheckLead() const {
  assert(stopping_ || !LeadNeeded() || LeadHeld());
  assert(int{leading_} + int{handedTo_ >= 0} + int{engineHanded_} <= 1);
}

bool CommPort::TakeLead() {
  if (leading_ || stopping_) return false;
  leading_ = true;
  // A thread handed the lead, or the engine called for it, finds it taken and follows.
  handedTo_ = -1;
  engineHanded_ = false;
  return true;
}

void CommPort::ReleaseLead(int keeperFd) {
  leading_ = false;
  engineLeads_ = false;
  if (stopping_) {
    leadGiven_.notify_all();
    return;
  }
  PassLead(keeperFd);
  CheckLead();
}

// A free lead that is needed goes to the thread that has waited longest for it; else to the
// thread that just gave it up (keeperFd: it comes back at once, or leaves and passes it on);
// else to the engine.
void CommPort::PassLead(int keeperFd) {
  if (stopping_ || LeadHeld()) return;
  if (!followers_.empty()) {
    handedTo_ = followers_.front();
    WriteWakeUp(handedTo_);
    return;
  }
  if (!EngineShouldLead()) return;
  if (keeperFd >= 0) {
    handedTo_ = keeperFd;
    return;
  }
  engineHanded_ = true;
  engineCalled_.notify_one();
}

// The leader's poll waits for what PlanPoll said when it started; a call may have added to that
// since (taken in a server's RESUME, so the leader must wait for the socket too; freed queue
// space; started a transfer with an earlier deadline), or made the engine's lead unneeded. What
// the poll waits for and no longer needs (a queue filled meanwhile) costs at most a round that
// finds nothing, and only if it comes: not worth a wake-up now.
bool CommPort::LeaderMustLookAgain() const {
  if (engineLeads_ && (!followers_.empty() || !EngineShouldLead())) return true;
  const PollPlan now = PlanPoll();
  if (now.inputHeld && !polled_.inputHeld) return true;
  if ((now.lineEvents & ~polled_.lineEvents) != 0) return true;
  return now.deadline && (!polled_.deadline || *now.deadline < *polled_.deadline);
}

void CommPort::Nudge() {
  if (stopping_) return;
  if (leading_) {
    if (LeaderMustLookAgain()) Wake();
    return;
  }
  PassLead(-1);
}

void CommPort::AfterCall() {
  if (closed_) return;
  Nudge();
  CheckLead();
}

void CommPort::DriveWaitsFor(const Overlapped* ov) {
  if (ov->hEvent && LoadState(ov) == kStatusPending)
    rt::SetEventDriver(ov->hEvent, weak_from_this());
}

void CommPort::Drive(int wakeFd, const std::atomic<bool>& woken,
                     std::optional<Clock::time_point> deadline) {
  std::unique_lock lock(m_);
  if (!TakeLead()) {
    // Follows until its event is set, its time is up, or it is handed the lead; it then comes
    // back (and takes the lead) or leaves (and passes it on).
    if (!stopping_) {
      followers_.push_back(wakeFd);
      Nudge();  // the engine yields to a thread that waits
    }
    CheckLead();
    lock.unlock();
    pollfd pfd{wakeFd, POLLIN, 0};
    ::poll(&pfd, 1, deadline ? MillisecondsUntil(*deadline, Clock::now()) : -1);
    lock.lock();
    std::erase(followers_, wakeFd);
    return;
  }
  // Led until the caller's own wake-up fires (its event was set, by this thread's work or
  // another's) or its time is up.
  while (!stopping_ && !woken.load(std::memory_order_acquire) &&
         !WatchLineOnce(lock, wakeFd, deadline)) {
    if (deadline && Clock::now() >= *deadline) break;
  }
  ReleaseLead(wakeFd);
}

void CommPort::Leave(int wakeFd) {
  std::lock_guard lock(m_);
  if (handedTo_ == wakeFd) handedTo_ = -1;
  PassLead(-1);
  CheckLead();
}

void CommPort::Attend() {
  std::lock_guard lock(m_);
  ++attendants_;
  Nudge();
  CheckLead();
}

void CommPort::Unattend() {
  std::lock_guard lock(m_);
  --attendants_;
  Nudge();
  CheckLead();
}

void CommPort::LookAtLine() {
  std::unique_lock lock(m_);
  if (closed_ || !TakeLead()) return;
  WatchLineOnce(lock, -1, Clock::now());
  ReleaseLead(-1);
}

void CommPort::EngineLoop() {
  std::unique_lock lock(m_);
  while (!stopping_) {
    if (leading_ || handedTo_ >= 0 || !followers_.empty() || !EngineShouldLead()) {
      engineHanded_ = false;
      CheckLead();
      engineCalled_.wait(lock);
      continue;
    }
    engineHanded_ = false;
    leading_ = true;
    engineLeads_ = true;
    do {
      WatchLineOnce(lock, -1, std::nullopt);
    } while (!stopping_ && followers_.empty() && EngineShouldLead());
    ReleaseLead(-1);
  }
}

}  // namespace drv::posix
