// The engine side of a port: a round of the lead's poll, the receive queue, transmission,
// timeouts, events and the hang-up. Every function here runs with the port's mutex held. Who
// leads is CommLead.cpp's business.
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "serial/driver/posix/engine/CommPort.h"
#include "serial/driver/posix/engine/OverlappedBlock.h"

namespace drv::posix {

int CommPort::MillisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  // Rounded up: waking a little early would only lead to another, shorter poll.
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
  const long long ms = (us + 999) / 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool CommPort::WatchLineOnce(std::unique_lock<std::mutex>& lock, int callerFd,
                             std::optional<Clock::time_point> until) {
  const PollPlan plan = PlanPoll();
  pollfd fds[4] = {};
  // Input is waited for through the port's epoll set, where the line is edge-triggered: a
  // pseudo-terminal's poll of an empty line first waits for the kernel's buffer worker, which
  // the byte's own wake-up has usually pushed off the processor, so polling the line itself
  // after each byte cost the leader a second sleep. After a hang-up the line would report for
  // ever: it is left out, as it is while the queue is full (the edge waits in the set).
  const bool input = !hungUp_ && (plan.lineEvents & POLLIN) != 0;
  const bool output = !hungUp_ && (plan.lineEvents & POLLOUT) != 0;
  fds[0].fd = input ? inputFd_ : -1;
  fds[0].events = POLLIN;
  fds[1].fd = wakeFd_;
  fds[1].events = POLLIN;
  fds[2].fd = callerFd;
  fds[2].events = POLLIN;
  // The line itself is polled only for output, which is rare, and while the queue is full, for
  // a hang-up.
  fds[3].fd = !hungUp_ && (output || !input) ? line_->Fd() : -1;
  fds[3].events = output ? POLLOUT : 0;
  // Input the line already holds is taken at once, as if the descriptor had reported it.
  polled_ = plan;
  if (until && (!polled_.deadline || *until < *polled_.deadline)) polled_.deadline = until;
  const int timeout = plan.inputHeld     ? 0
                      : polled_.deadline ? MillisecondsUntil(*polled_.deadline, Clock::now())
                                         : -1;
  lock.unlock();
  const int ready = ::poll(fds, 4, timeout);
  std::uint32_t lineReport = 0;
  if (ready > 0 && (fds[0].revents & POLLIN)) {
    // Taking the edge out of the set, so that the next poll sleeps until the next one.
    epoll_event event{};
    if (::epoll_wait(inputFd_, &event, 1, 0) == 1) lineReport = event.events;
  }
  lock.lock();
  if (stopping_) return true;
  if (ready > 0 && (fds[1].revents & POLLIN)) {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
  }
  if (lineReport & (EPOLLIN | EPOLLHUP | EPOLLERR)) lineMayHoldInput_ = true;
  if (plan.inputHeld || lineMayHoldInput_) PullFromLine();
  if (lineReport & (EPOLLHUP | EPOLLERR)) HangUp();
  if (ready > 0 && fds[3].fd >= 0 && fds[3].revents != 0) {
    const short revents = fds[3].revents;
    if (revents & (POLLHUP | POLLERR)) PullFromLine();
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) HangUp();
    if ((revents & POLLOUT) && !hungUp_) {
      writeBlocked_ = false;
      if (!line_->FlushOwnOutput()) HangUp();
    }
  }
  lineAnswered_.notify_all();
  const auto later = Clock::now();
  ServeReads(later);
  if (!writes_.empty() && !hungUp_) PushWrites(later);
  if (drainCheckAt_ && later >= *drainCheckAt_) CheckTransmitDrained(later);
  return ready > 0 && (fds[2].revents & POLLIN) != 0;
}

CommPort::PollPlan CommPort::PlanPoll() const {
  PollPlan plan;
  if (!hungUp_) {
    // A full queue takes nothing more in: the bytes wait in the kernel.
    const bool queueFull = rx_.Free() == 0;
    const bool output = (writeBlocked_ && !line_->OutputSuspended()) || line_->OwnOutputWaiting();
    plan.lineEvents = static_cast<short>((queueFull ? 0 : POLLIN) | (output ? POLLOUT : 0));
    plan.inputHeld = !queueFull && (line_->InputHeld() || lineMayHoldInput_);
  }
  auto consider = [&plan](const std::optional<Clock::time_point>& t) {
    if (t && (!plan.deadline || *t < *plan.deadline)) plan.deadline = t;
  };
  if (!reads_.empty() && reads_.front().started) {
    const PendingRead& r = reads_.front();
    consider(r.totalDeadline);
    if (r.plan.intervalMs != 0 && r.lastByteAt) {
      consider(*r.lastByteAt + std::chrono::milliseconds(r.plan.intervalMs));
    }
  }
  if (!writes_.empty() && writes_.front().started) consider(writes_.front().deadline);
  consider(drainCheckAt_);
  return plan;
}

// ---- receive ----

// A line read to its end announces what comes next by an edge in the port's epoll set (see
// WatchLineOnce). Until then a tty that says it holds nothing is not read: a read of an empty
// pseudo-terminal first waits for the kernel's buffer worker.
bool CommPort::LineMayHaveInput() {
  if (!lineMayHoldInput_ && (line_->InputHeld() || line_->InputPending())) {
    lineMayHoldInput_ = true;
  }
  return lineMayHoldInput_;
}

void CommPort::PullFromLine(std::uint32_t beyond) {
  ServeReads(Clock::now());
  if (lineDrained_ || stopping_) return;
  for (;;) {
    const std::uint32_t room = rx_.Free(beyond);
    if (room == 0 || !LineMayHaveInput()) return;
    const Line::Input in = TakeFromLine(room);
    if (in.bytes > 0) ServeReads(Clock::now());
    if (in.gone) {
      // The device is gone. What it sent before is in the queue now.
      lineDrained_ = true;
      HangUp();
      return;
    }
    if (!in.more) return;
  }
}

// One read of the line into the queue, with the errors and events the line reported beside
// its data (a serial server's notifications).
Line::Input CommPort::TakeFromLine(std::uint32_t room) {
  // A line never yields more bytes than it reads, nor decoding more than it is given, so
  // reading at most the free space can never overflow the queue.
  std::uint8_t chunk[4096];
  const Line::Input in = line_->Read(chunk, std::min<std::size_t>(room, sizeof chunk));
  lineMayHoldInput_ = in.more;
  if (in.bytes > 0) {
    takenSinceWait_ += in.bytes;
    const ReceiveQueue::Arrival arrival = rx_.Accept(chunk, in.bytes);
    if (arrival.errors != 0) RecordErrors(arrival.errors);
    RaiseEvents(arrival.events);
  }
  if (in.errors != 0) RecordErrors(in.errors);
  if (in.events != 0) RaiseEvents(in.events);
  return in;
}

// One chunk from the line into the empty queue, for a read being served; false when the line
// has nothing now. Endings and line errors are left to PullFromLine, which may complete reads.
bool CommPort::TopUpFromLine() {
  if (lineDrained_ || hungUp_ || stopping_ || rules_.abortOnError || rx_.Size() != 0) return false;
  const std::uint32_t room = rx_.Free();
  if (room == 0 || !LineMayHaveInput()) return false;
  return TakeFromLine(room).bytes > 0;  // no abort here: abort-on-error lines are not topped up
}

void CommPort::StartRead(PendingRead& r, Clock::time_point now) {
  r.started = true;
  if (r.plan.totalMs) r.totalDeadline = DeadlineAfter(now, *r.plan.totalMs);
}

bool CommPort::ReadIsDone(const PendingRead& r, Clock::time_point now, bool starting) const {
  if (r.got == r.count || r.plan.returnAtOnce) return true;
  if (r.got > 0 && (r.plan.returnOnFirstBytes || (starting && r.plan.returnIfAnyQueued))) {
    return true;
  }
  if (r.totalDeadline && now >= *r.totalDeadline) return true;
  if (r.plan.intervalMs != 0 && r.lastByteAt &&
      now - *r.lastByteAt >= std::chrono::milliseconds(r.plan.intervalMs)) {
    return true;
  }
  return false;
}

void CommPort::ServeReads(Clock::time_point now) {
  while (!reads_.empty()) {
    PendingRead& r = reads_.front();
    // What is there when a read starts decides whether it may complete at once.
    const bool starting = !r.started;
    if (starting) StartRead(r, now);
    std::uint32_t take = rx_.Take(r.buffer + r.got, r.count - r.got);
    // A read that completes with what is there also gets what the kernel already holds
    // (cbInQue counts it), not only the queue's share of it.
    const bool takesWhatIsThere =
        r.plan.returnAtOnce || r.plan.returnOnFirstBytes || (starting && r.plan.returnIfAnyQueued);
    while (takesWhatIsThere && r.got + take < r.count && TopUpFromLine()) {
      take += rx_.Take(r.buffer + r.got + take, r.count - r.got - take);
    }
    if (take > 0) {
      r.got += take;
      r.lastByteAt = now;
    }
    std::uint32_t error = kErrorSuccess;
    if (!ReadIsDone(r, now, starting)) {
      if (!hungUp_ || rx_.Size() != 0) return;
      // Nothing more will come: what did arrive is delivered, an empty read fails.
      if (r.got == 0) error = kErrorDeviceNotConnected;
    }
    CompleteTransfer(r.ov, error, r.got);
    reads_.pop_front();
  }
}

// ---- transmit ----

void CommPort::StartWrite(PendingWrite& w, Clock::time_point now) {
  w.started = true;
  if (w.totalMs) w.deadline = DeadlineAfter(now, *w.totalMs);
}

void CommPort::PushWrites(Clock::time_point now) {
  writeBlocked_ = false;
  while (!writes_.empty()) {
    PendingWrite& w = writes_.front();
    if (!w.started) StartWrite(w, now);
    while (w.written < w.count) {
      const long n = line_->Write(w.buffer + w.written, w.count - w.written);
      if (n > 0) {
        w.written += static_cast<std::uint32_t>(n);
        bytesSentSinceEmpty_ = true;
        outputSeenEmpty_ = false;
        drainChecks_.Reset();
        continue;
      }
      if (n == 0) {
        writeBlocked_ = true;
        break;
      }
      HangUp();  // completes this write too; w is gone
      return;
    }
    if (w.written < w.count && !(w.deadline && now >= *w.deadline)) return;
    // Done, or timed out: a timed-out write succeeds with the bytes it got out, and the rest
    // of it is not sent (the Windows driver completes it with a success status and the count).
    writeBlocked_ = false;
    CompleteTransfer(w.ov, kErrorSuccess, w.written);
    writes_.pop_front();
  }
  if (bytesSentSinceEmpty_) CheckTransmitDrained(now);
}

// EV_TXEMPTY means the last byte has left. The kernel offers no wake-up for an empty output
// queue (tcdrain would block the engine), so once the engine has handed over everything it
// asks the line (TIOCOUTQ); if bytes remain it checks again when they should have left at the
// line rate, and less and less often while a held line lets nothing leave (TransmitDrain.h).
void CommPort::CheckTransmitDrained(Clock::time_point now) {
  drainCheckAt_.reset();
  if (!writes_.empty() || !bytesSentSinceEmpty_) return;
  std::uint32_t queued = 0;
  if (hungUp_ || !line_->OutputQueued(&queued) || queued == 0) {
    outputSeenEmpty_ = !hungUp_ && queued == 0;
    bytesSentSinceEmpty_ = false;
    drainChecks_.Reset();
    if (!hungUp_) RaiseEvents(kEvTxEmpty);
    return;
  }
  const std::uint64_t ms =
      drainChecks_.NextWaitMs(queued, rules_.bitsPerCharacter, rules_.bitsPerSecond);
  drainCheckAt_ = now + std::chrono::milliseconds(ms);
}

// ---- events, errors, endings ----

void CommPort::RaiseEvents(std::uint32_t events) {
  history_ |= events & mask_;
  if (waitOv_ && history_ != 0) {
    const std::uint32_t occurred = history_;
    history_ = 0;
    CompleteWait(kErrorSuccess, occurred);
  }
}

void CommPort::RecordErrors(std::uint32_t errors) {
  errors_ |= errors;
  if (rules_.abortOnError) {
    AbortReads(kErrorOperationAborted);
    AbortWrites(kErrorOperationAborted);
  }
}

void CommPort::CompleteWait(std::uint32_t error, std::uint32_t events) {
  *waitMask_ = events;
  Overlapped* ov = waitOv_;
  waitOv_ = nullptr;
  waitMask_ = nullptr;
  CompleteTransfer(ov, error, error == kErrorSuccess ? sizeof(std::uint32_t) : 0);
}

void CommPort::AbortReads(std::uint32_t error) {
  while (!reads_.empty()) {
    CompleteTransfer(reads_.front().ov, error, reads_.front().got);
    reads_.pop_front();
  }
}

void CommPort::AbortWrites(std::uint32_t error) {
  while (!writes_.empty()) {
    CompleteTransfer(writes_.front().ov, error, writes_.front().written);
    writes_.pop_front();
  }
  writeBlocked_ = false;
  drainCheckAt_.reset();
  drainChecks_.Reset();
  bytesSentSinceEmpty_ = false;
}

void CommPort::HangUp() {
  if (hungUp_) return;
  hungUp_ = true;
  ServeReads(Clock::now());
  AbortWrites(kErrorDeviceNotConnected);
  if (waitOv_) CompleteWait(kErrorDeviceNotConnected, 0);
}

}  // namespace drv::posix
