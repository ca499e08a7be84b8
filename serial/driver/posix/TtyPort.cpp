// The calls of a port: each does at once what it can on the calling thread and hands the rest
// to the engine (TtyEngine.cpp).
#include "serial/driver/posix/TtyPort.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/driver/posix/ErrnoToWinError.h"
#include "serial/driver/posix/ModemLines.h"
#include "serial/driver/posix/OverlappedBlock.h"
#include "serial/driver/posix/TtyCalls.h"

namespace drv::posix {
namespace {

// Larger receive queues are refused like an allocation the driver cannot make.
constexpr std::uint32_t kLargestQueue = 64u << 20;
constexpr std::uint32_t kLineEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
constexpr std::uint32_t kAllPurgeFlags =
    kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;

std::uint32_t OpenFailure(int fd, int err, ErrnoContext context) {
  if (fd >= 0) ::close(fd);
  return WinErrorFromErrno(err, context);
}

}  // namespace

std::unique_ptr<TtyPort> TtyPort::Open(const std::string& path, const std::string& threadName,
                                       std::uint32_t* error) {
  if (path.empty()) {
    *error = kErrorFileNotFound;
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = OpenFailure(-1, errno, ErrnoContext::kOpen);
    return nullptr;
  }
  // flock keeps out cooperating programs (and root, whom TIOCEXCL does not stop); TIOCEXCL
  // keeps out every other non-root opener.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = OpenFailure(fd, errno, ErrnoContext::kOpenLock);
    return nullptr;
  }
  termios t{};
  if (Tty().getAttributes(fd, &t) != 0) {
    *error = OpenFailure(fd, errno, ErrnoContext::kOpen);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  SavedLineState saved;
  SaveLineState(fd, saved);
  MakeRawForEngine(t);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    const int err = errno;
    ::ioctl(fd, TIOCNXCL);
    *error = OpenFailure(fd, err, ErrnoContext::kOpen);
    return nullptr;
  }
  // No flush here: a real tty starts empty anyway (the kernel drops its buffers at the last
  // close), and on a pseudo-terminal the other side may answer the open at once; flushing
  // would race with that answer and lose it.
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    const int err = errno;
    RestoreLineState(fd, saved);
    ::ioctl(fd, TIOCNXCL);
    *error = OpenFailure(fd, err, ErrnoContext::kOpen);
    return nullptr;
  }
  std::unique_ptr<TtyPort> port(new TtyPort(fd, wakeFd, saved));
  port->engine_ = std::thread([p = port.get()] { p->EngineLoop(); });
  pthread_setname_np(port->engine_.native_handle(), threadName.substr(0, 15).c_str());
  *error = kErrorSuccess;
  return port;
}

TtyPort::TtyPort(int fd, int wakeFd, const SavedLineState& saved)
    : fd_(fd), wakeFd_(wakeFd), saved_(saved) {}

TtyPort::~TtyPort() {
  Close();
}

void TtyPort::Close() {
  std::unique_ptr<LineChangeWatcher> watcher;
  {
    std::lock_guard lock(m_);
    if (closed_ || stopping_) return;
    stopping_ = true;
    // Taken over under the lock, where SetCommMask looks at it and (before stopping_) would
    // start one; stopped outside it, because its reports take the lock.
    watcher = std::move(lineWatcher_);
    Wake();
  }
  engine_.join();
  watcher.reset();
  std::lock_guard lock(m_);
  closed_ = true;
  AbortReads(kErrorOperationAborted);
  AbortWrites(kErrorOperationAborted);
  if (waitOv_) CompleteWait(kErrorOperationAborted, 0);
  RestoreLineState(fd_, saved_);
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  ::close(wakeFd_);
}

std::uint32_t TtyPort::SetCommState(const Dcb& dcb) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (const std::uint32_t invalid = ValidateDcb(dcb)) return invalid;
  termios t{};
  if (Tty().getAttributes(fd_, &t) != 0) return WinErrorFromErrno(errno, ErrnoContext::kIo);
  bool arbitraryRate = false;
  ApplyDcbToTermios(dcb, t, &arbitraryRate);
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) return WinErrorFromErrno(errno, ErrnoContext::kIo);
  if (arbitraryRate) {
    if (const int err = SetArbitraryRate(fd_, dcb.BaudRate)) {
      return WinErrorFromErrno(err, ErrnoContext::kIo);
    }
  }
  if (const int err = SetModemControl(fd_, ModemControlFor(dcb))) {
    return WinErrorFromErrno(err, ErrnoContext::kIo);
  }
  rules_ = ReceiveRulesFor(dcb);
  rx_.SetRules(rules_);
  return kErrorSuccess;
}

std::uint32_t TtyPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  // Like the Windows driver, a transfer keeps the timeouts it started with.
  timeouts_ = timeouts;
  return kErrorSuccess;
}

std::uint32_t TtyPort::SetupComm(std::uint32_t inQueue, std::uint32_t /*outQueue*/) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (inQueue > kLargestQueue) return kErrorNotEnoughMemory;
  // Size 0 keeps the queue as it is. A smaller queue than its content keeps every byte; the
  // engine reads no more from the tty until the content fits.
  if (inQueue != 0) rx_.SetLimit(inQueue);
  Wake();
  return kErrorSuccess;
}

std::uint32_t TtyPort::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  // Windows completes an outstanding wait with no events when the mask changes.
  if (waitOv_) CompleteWait(kErrorSuccess, 0);
  mask_ = mask;
  history_ &= mask;
  // A queue that filled before anyone asked for EV_RXCHAR takes in nothing more, so no later
  // arrival could raise the event: a reader that drains on EV_RXCHAR would wait for ever.
  if ((mask & kEvRxChar) && rx_.Free() == 0 && rx_.Size() != 0) history_ |= kEvRxChar;
  if ((mask & kLineEvents) && !lineWatcher_ && !hungUp_ && !stopping_ && HasModemLines(fd_)) {
    lineWatcher_ = std::make_unique<LineChangeWatcher>(fd_, [this](std::uint32_t events) {
      std::lock_guard watcherLock(m_);
      RaiseEvents(events);
    });
  }
  return kErrorSuccess;
}

std::uint32_t TtyPort::WaitCommEvent(std::uint32_t* eventMask, Overlapped* ov) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (mask_ == 0 || waitOv_ != nullptr || eventMask == nullptr) return kErrorInvalidParameter;
  BeginTransfer(ov);
  PullFromTty();
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
  return kErrorIoPending;
}

std::uint32_t TtyPort::ReadFile(void* buffer, std::uint32_t count, std::uint32_t* done,
                                Overlapped* ov) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (done) *done = 0;
  BeginTransfer(ov);
  if (rules_.abortOnError && errors_ != 0) {
    RefuseTransfer(ov, kErrorOperationAborted);
    return kErrorOperationAborted;
  }
  if (hungUp_ && reads_.empty()) {
    PullFromTty();
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
  PullFromTty();  // also serves the reads, this one included when it is first in line
  if (LoadState(ov) == kStatusPending) {
    Wake();  // a new deadline, or queue space freed
    return kErrorIoPending;
  }
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  if (inputPaused_ && rx_.Free() > 0) Wake();  // queue space freed
  return static_cast<std::uint32_t>(ov->Internal);
}

std::uint32_t TtyPort::WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* done,
                                 Overlapped* ov) {
  std::lock_guard lock(m_);
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
    Wake();
    return kErrorIoPending;
  }
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  Wake();  // a drain check may have been armed
  return static_cast<std::uint32_t>(ov->Internal);
}

std::uint32_t TtyPort::ClearCommError(std::uint32_t* errors, ComStat* stat) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  PullFromTty();
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    stat->Flags = 0;
    int kernelIn = 0;
    if (ttyDrained_ || ::ioctl(fd_, FIONREAD, &kernelIn) != 0) kernelIn = 0;
    stat->cbInQue = static_cast<std::uint32_t>(rx_.Size()) + static_cast<std::uint32_t>(kernelIn);
    std::uint32_t unsent = 0;
    for (const auto& w : writes_) unsent += w.count - w.written;
    int kernelOut = 0;
    if (hungUp_ || Tty().outputQueued(fd_, &kernelOut) != 0) kernelOut = 0;
    stat->cbOutQue = unsent + static_cast<std::uint32_t>(kernelOut);
  }
  if (inputPaused_ && rx_.Free() > 0) Wake();  // a served read may have freed queue space
  return kErrorSuccess;
}

std::uint32_t TtyPort::GetCommModemStatus(std::uint32_t* status) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (hungUp_) return kErrorDeviceNotConnected;
  if (const int err = ReadModemStatus(fd_, status)) {
    return WinErrorFromErrno(err, ErrnoContext::kIo);
  }
  return kErrorSuccess;
}

std::uint32_t TtyPort::PurgeComm(std::uint32_t flags) {
  std::lock_guard lock(m_);
  if (closed_) return kErrorInvalidHandle;
  if (flags == 0 || (flags & ~kAllPurgeFlags) != 0) return kErrorInvalidParameter;
  if (flags & kPurgeTxAbort) AbortWrites(kErrorOperationAborted);
  if (flags & kPurgeRxAbort) AbortReads(kErrorOperationAborted);
  // After a hang-up there is nothing left to clear; the purge still succeeds, so that a port
  // whose device has gone can be closed.
  if ((flags & kPurgeTxClear) && !hungUp_) ::tcflush(fd_, TCOFLUSH);
  if (flags & kPurgeRxClear) {
    rx_.Clear();
    if (!hungUp_) ::tcflush(fd_, TCIFLUSH);
  }
  Wake();
  return kErrorSuccess;
}

// Without the engine's lock: the state word is stored last, with release, after the count (and
// a wait's event mask), so a completion is seen whole through it; and every store into a block
// happens under the lock, so a caller that sees the transfer done cannot race its last steps.
// Taking the lock here made the watcher, woken by the completion, queue behind the engine that
// was still finishing the same pass.
std::uint32_t TtyPort::OverlappedOutcome(const Overlapped* ov, std::uint32_t* done) {
  const std::uintptr_t state = LoadState(ov);
  if (state == kStatusPending) return kErrorIoIncomplete;
  if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
  return static_cast<std::uint32_t>(state);
}

}  // namespace drv::posix
