// The calls of a port: each does at once what it can on the calling thread and hands the rest
// to the engine (CommEngine.cpp).
#include "serial/driver/posix/engine/CommPort.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/driver/posix/engine/ErrnoToWinError.h"
#include "serial/driver/posix/engine/OverlappedBlock.h"

namespace drv::posix {
namespace {

// Larger receive queues are refused like an allocation the driver cannot make.
constexpr std::uint32_t kLargestQueue = 64u << 20;
// A round that took in more than a device delivers at a time (a UART's FIFO, a USB adapter's
// packet): the line is streaming.
constexpr std::size_t kStreamingRound = 512;
// What ClearCommError takes in beyond a full queue to count it: a tty's input buffer.
constexpr std::uint32_t kLookBeyondAFullQueue = 4096;
constexpr std::uint32_t kLineEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
constexpr std::uint32_t kAllPurgeFlags =
    kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;

}  // namespace

std::shared_ptr<CommPort> CommPort::Start(std::unique_ptr<Line> line, const std::string& threadName,
                                          std::uint32_t* error) {
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    *error = WinErrorFromErrno(errno, ErrnoContext::kOpen);
    return nullptr;  // the line closes with its owner
  }
  const int inputFd = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event input{};
  input.events = EPOLLIN | EPOLLET;
  if (inputFd < 0 || ::epoll_ctl(inputFd, EPOLL_CTL_ADD, line->Fd(), &input) != 0) {
    *error = WinErrorFromErrno(errno, ErrnoContext::kOpen);
    if (inputFd >= 0) ::close(inputFd);
    ::close(wakeFd);
    return nullptr;
  }
  std::shared_ptr<CommPort> port(new CommPort(std::move(line), wakeFd, inputFd));
  {
    // What the line took in before the engine existed (a server's first bytes, read while its
    // options were negotiated) is queued like bytes the kernel held at the open.
    std::lock_guard lock(port->m_);
    if (port->line_->InputHeld()) port->PullFromLine();
  }
  port->engine_ = std::thread([p = port.get()] { p->EngineLoop(); });
  pthread_setname_np(port->engine_.native_handle(), threadName.substr(0, 15).c_str());
  *error = kErrorSuccess;
  return port;
}

CommPort::CommPort(std::unique_ptr<Line> line, int wakeFd, int inputFd)
    : line_(std::move(line)), wakeFd_(wakeFd), inputFd_(inputFd) {
  rx_.SetMarked(line_->MarksLineErrors());
}

CommPort::~CommPort() {
  if (engine_.joinable()) {
    Close();
  } else if (!closed_) {
    // The engine never started.
    line_->Close();
    ::close(wakeFd_);
    ::close(inputFd_);
  }
}

void CommPort::Close() {
  std::unique_ptr<LineActivity> watcher;
  {
    std::lock_guard lock(m_);
    if (closed_ || stopping_) return;
    stopping_ = true;
    // Taken over under the lock, where SetCommMask looks at it and (before stopping_) would
    // start one; stopped outside it, because its reports take the lock.
    watcher = std::move(lineWatcher_);
    Wake();
    for (const int follower : followers_) {
      const std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(follower, &one, sizeof one);
    }
  }
  lineAnswered_.notify_all();
  engineCalled_.notify_all();
  engine_.join();
  watcher.reset();
  std::unique_lock lock(m_);
  // A waiting thread that leads leaves its poll at the wake-up; the descriptors it polls stay
  // open until it has.
  leadGiven_.wait(lock, [this] { return !leading_; });
  closed_ = true;
  AbortReads(kErrorOperationAborted);
  AbortWrites(kErrorOperationAborted);
  if (waitOv_) CompleteWait(kErrorOperationAborted, 0);
  lock.unlock();
  // Outside the lock: a tty's close may wait for output still leaving, and the threads that
  // waited on the port leave it meanwhile. Every call from now on finds the port closed and
  // touches neither the line nor the wake-up.
  line_->Close();
  ::close(wakeFd_);
  ::close(inputFd_);
}

std::uint32_t CommPort::SetCommState(const Dcb& dcb) {
  CallScope call(*this);
  std::unique_lock<std::mutex>& lock = call.Lock();
  if (closed_) return kErrorInvalidHandle;
  if (const std::uint32_t invalid = ValidateDcb(dcb)) return invalid;
  if (hungUp_) return kErrorDeviceNotConnected;
  if (const std::uint32_t err = line_->Apply(dcb)) return err;
  rules_ = ReceiveRulesFor(dcb);
  rx_.SetRules(rules_);
  // A line whose other end confirms settings (a serial server) is given a little time to do
  // so; the engine reads its answers meanwhile. Without them the port goes on all the same.
  Clock::time_point until;
  if (line_->Unconfirmed(&until)) {
    Nudge();
    while (!stopping_ && !hungUp_ && line_->Unconfirmed(&until) && Clock::now() < until) {
      if (TakeLead()) {
        WatchLineOnce(lock, -1, until);
        ReleaseLead(-1);
      } else {
        CheckLead();
        lineAnswered_.wait_until(lock, until);
      }
    }
    if (!closed_) line_->StopWaitingForConfirmation();
  }
  return kErrorSuccess;
}

std::uint32_t CommPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  // Like the Windows driver, a transfer keeps the timeouts it started with.
  timeouts_ = timeouts;
  return kErrorSuccess;
}

std::uint32_t CommPort::SetupComm(std::uint32_t inQueue, std::uint32_t /*outQueue*/) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  if (inQueue > kLargestQueue) return kErrorNotEnoughMemory;
  // Size 0 keeps the queue as it is. A smaller queue than its content keeps every byte; the
  // engine reads no more from the line until the content fits.
  if (inQueue != 0) rx_.SetLimit(inQueue);
  return kErrorSuccess;
}

std::uint32_t CommPort::SetCommMask(std::uint32_t mask) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  // Windows completes an outstanding wait with no events when the mask changes.
  if (waitOv_) CompleteWait(kErrorSuccess, 0);
  mask_ = mask;
  history_ &= mask;
  // A queue that filled before anyone asked for EV_RXCHAR takes in nothing more, so no later
  // arrival could raise the event: a reader that drains on EV_RXCHAR would wait for ever.
  if ((mask & kEvRxChar) && rx_.Free() == 0 && rx_.Size() != 0) history_ |= kEvRxChar;
  if ((mask & kLineEvents) && !lineWatcher_ && !hungUp_ && !stopping_) {
    lineWatcher_ = line_->WatchLineChanges([this](std::uint32_t events) {
      std::lock_guard watcherLock(m_);
      RaiseEvents(events);
    });
  }
  return kErrorSuccess;
}

std::uint32_t CommPort::WaitCommEvent(std::uint32_t* eventMask, Overlapped* ov) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  if (mask_ == 0 || waitOv_ != nullptr || eventMask == nullptr) return kErrorInvalidParameter;
  BeginTransfer(ov);
  // In a stream (the history completes this wait at once, or the last round took in more than
  // a device delivers at a time) the wait takes in what the line is bringing, even if that means
  // waiting for a pseudo-terminal's buffer worker to finish its batch: each round then carries
  // a whole batch. Otherwise it reads only what the line says it holds, so that it does not
  // wait for the worker still finishing the delivery that woke the port.
  if (history_ != 0 || takenSinceWait_ >= kStreamingRound) lineMayHoldInput_ = true;
  takenSinceWait_ = 0;
  PullFromLine();
  if (history_ != 0) {
    *eventMask = history_;
    history_ = 0;
    CompleteTransfer(ov, kErrorSuccess, sizeof(std::uint32_t));
    return kErrorSuccess;
  }
  if (hungUp_) {
    RefuseTransfer(ov, kErrorDeviceNotConnected);
    return kErrorDeviceNotConnected;
  }
  waitOv_ = ov;
  waitMask_ = eventMask;
  DriveWaitsFor(ov);
  return kErrorIoPending;
}

std::uint32_t CommPort::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* done,
                                 Overlapped* ov) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  if (done) *done = 0;
  BeginTransfer(ov);
  if (rules_.abortOnError && errors_ != 0) {
    RefuseTransfer(ov, kErrorOperationAborted);
    return kErrorOperationAborted;
  }
  if (hungUp_ && reads_.empty()) {
    PullFromLine();
    if (rx_.Size() == 0 && count != 0) {
      RefuseTransfer(ov, kErrorDeviceNotConnected);
      return kErrorDeviceNotConnected;
    }
  }
  PendingRead read;
  read.ov = ov;
  read.buffer = static_cast<std::uint8_t*>(buffer);
  read.count = count;
  read.plan = PlanRead(timeouts_, count);
  reads_.push_back(read);
  // A read that got all it asked for at once leaves the line alone: the bytes behind it are
  // taken in by whoever watches the line next. Any other read looks at the line, which is
  // also how a caller that polls with reads learns that the device has gone.
  ServeReads(Clock::now());
  if (LoadState(ov) == kStatusPending || ov->InternalHigh != count) PullFromLine();
  if (LoadState(ov) == kStatusPending) {
    DriveWaitsFor(ov);
    return kErrorIoPending;
  }
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  return static_cast<std::uint32_t>(ov->Internal);
}

std::uint32_t CommPort::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* done,
                                  Overlapped* ov) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  if (done) *done = 0;
  BeginTransfer(ov);
  const std::uint32_t refusal = hungUp_                                 ? kErrorDeviceNotConnected
                                : (rules_.abortOnError && errors_ != 0) ? kErrorOperationAborted
                                                                        : kErrorSuccess;
  if (refusal != kErrorSuccess) {
    RefuseTransfer(ov, refusal);
    return refusal;
  }
  PendingWrite write;
  write.ov = ov;
  write.buffer = static_cast<const std::uint8_t*>(buffer);
  write.count = count;
  write.totalMs = PlanWrite(timeouts_, count);
  writes_.push_back(write);
  drainCheckAt_.reset();
  PushWrites(Clock::now());
  if (LoadState(ov) == kStatusPending) {
    DriveWaitsFor(ov);
    return kErrorIoPending;
  }
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  return static_cast<std::uint32_t>(ov->Internal);
}

std::uint32_t CommPort::ClearCommError(std::uint32_t* errors, ComStat* stat) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  // cbInQue counts what reads can have, decoded: the kernel's count would include a marked tty's
  // doubled 0xFF and a server's Telnet escapes and notifications. So what the line holds is
  // taken in first, up to one chunk beyond a full queue, so that a full queue still shows that
  // more has come; what lies further stays with the line, held back by its flow control.
  // Asked first: the status of an empty line is read without a read() (a handler's
  // BytesWaiting, right after the lead took in what woke it).
  if (!lineDrained_ && LineMayHaveInput()) {
    // What arrives while the line is read is taken in (and counted) too, as long as it keeps
    // coming and the queue has room: the handler that asked reads it with the rest.
    std::size_t before;
    do {
      before = rx_.Size();
      PullFromLine(kLookBeyondAFullQueue);
    } while (rx_.Size() > before && !lineDrained_ && LineMayHaveInput());
  } else {
    ServeReads(Clock::now());
  }
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    stat->Flags = 0;
    stat->cbInQue = static_cast<std::uint32_t>(rx_.Size());
    std::uint32_t unsent = 0;
    for (const auto& w : writes_) unsent += w.count - w.written;
    std::uint32_t kernelOut = 0;
    if (hungUp_ || outputSeenEmpty_ || !line_->OutputQueued(&kernelOut)) {
      kernelOut = 0;
    } else if (kernelOut == 0) {
      outputSeenEmpty_ = true;
    }
    stat->cbOutQue = unsent + kernelOut;
  }
  return kErrorSuccess;
}

std::uint32_t CommPort::GetCommModemStatus(std::uint32_t* status) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  // A serial server reports the lines among its data: what it sent is taken in first.
  PullFromLine();
  if (hungUp_) return kErrorDeviceNotConnected;
  return line_->ModemStatus(status);
}

std::uint32_t CommPort::PurgeComm(std::uint32_t flags) {
  CallScope call(*this);
  if (closed_) return kErrorInvalidHandle;
  if (flags == 0 || (flags & ~kAllPurgeFlags) != 0) return kErrorInvalidParameter;
  if (flags & kPurgeTxAbort) AbortWrites(kErrorOperationAborted);
  if (flags & kPurgeRxAbort) AbortReads(kErrorOperationAborted);
  // After a hang-up there is nothing left to clear; the purge still succeeds, so that a port
  // whose device has gone can be closed.
  if (!hungUp_ && (flags & (kPurgeTxClear | kPurgeRxClear))) {
    line_->Purge((flags & kPurgeTxClear) != 0, (flags & kPurgeRxClear) != 0);
  }
  if (flags & kPurgeRxClear) rx_.Clear();
  return kErrorSuccess;
}

// Without the engine's lock: the state word is stored last, with release, after the count (and
// a wait's event mask), so a completion is seen whole through it; and every store into a block
// happens under the lock, so a caller that sees the transfer done cannot race its last steps.
// Taking the lock here made the watcher, woken by the completion, queue behind the engine that
// was still finishing the same pass.
std::uint32_t CommPort::OverlappedOutcome(const Overlapped* ov, std::uint32_t* done) {
  const std::uintptr_t state = LoadState(ov);
  if (state == kStatusPending) return kErrorIoIncomplete;
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  return static_cast<std::uint32_t>(state);
}

}  // namespace drv::posix
