#include "serial/driver/posix/tty/TtyLine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/ErrnoToWinError.h"
#include "serial/driver/posix/tty/LineSettings.h"
#include "serial/driver/posix/tty/ModemLines.h"
#include "serial/driver/posix/tty/TtyCalls.h"

namespace drv::posix {
namespace {

// The longest a close waits for output that is still leaving.
constexpr std::chrono::milliseconds kLongestCloseDrain{2000};

std::uint32_t OpenFailure(int fd, int err, ErrnoContext context) {
  if (fd >= 0) ::close(fd);
  return WinErrorFromErrno(err, context);
}

}  // namespace

std::unique_ptr<TtyLine> TtyLine::Open(const std::string& path, std::uint32_t* error) {
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
  const LineErrors lineErrors =
      Tty().isPseudoTerminal(fd) ? LineErrors::kNone : LineErrors::kMarked;
  MakeRawForEngine(t, lineErrors);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    const int err = errno;
    ::ioctl(fd, TIOCNXCL);
    *error = OpenFailure(fd, err, ErrnoContext::kOpen);
    return nullptr;
  }
  // No flush here: a real tty starts empty anyway (the kernel drops its buffers at the last
  // close), and on a pseudo-terminal the other side may answer the open at once; flushing
  // would race with that answer and lose it.
  *error = kErrorSuccess;
  return std::unique_ptr<TtyLine>(new TtyLine(fd, saved, lineErrors));
}

TtyLine::~TtyLine() {
  Close();
}

void TtyLine::Close() {
  if (fd_ < 0) return;
  LetOutputLeave();
  // What a held line keeps is dropped: the kernel's close would wait for it, up to its
  // closing_wait (30 s by default).
  ::tcflush(fd_, TCOFLUSH);
  RestoreLineState(fd_, saved_);
  // On a pty the tty outlives this descriptor: it must not stay exclusive.
  ::ioctl(fd_, TIOCNXCL);
  Tty().close(fd_);
  fd_ = -1;
}

// Output still on its way gets the time it needs at the line's rate, while it moves, for at
// most kLongestCloseDrain: the last bytes written before a close are sent, as the kernel's own
// close would send them.
void TtyLine::LetOutputLeave() {
  const auto until = Clock::now() + kLongestCloseDrain;
  std::uint32_t queued = 0;
  std::uint32_t before = UINT32_MAX;
  while (OutputQueued(&queued) && queued != 0 && queued < before && Clock::now() < until) {
    before = queued;
    const std::uint64_t lineMs =
        std::uint64_t{queued} * bitsPerCharacter_ * 1000 / std::max(bitsPerSecond_, 1u) + 1;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(std::chrono::milliseconds(lineMs), until - Clock::now()));
  }
}

Line::Input TtyLine::Read(std::uint8_t* buffer, std::size_t max) {
  Input in;
  for (;;) {
    const ssize_t n = Tty().read(fd_, buffer, max);
    if (n > 0) {
      in.bytes = static_cast<std::size_t>(n);
      in.more = in.bytes == max;
      return in;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return in;
    // End of file or EIO: the device is gone.
    in.gone = true;
    return in;
  }
}

bool TtyLine::InputPending() {
  int waiting = 0;
  // A hung-up tty refuses the request: the read then tells.
  return ::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting > 0;
}

long TtyLine::Write(const std::uint8_t* data, std::size_t n) {
  for (;;) {
    const ssize_t written = ::write(fd_, data, n);
    if (written > 0) return static_cast<long>(written);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;
  }
}

bool TtyLine::OutputQueued(std::uint32_t* queued) {
  int held = 0;
  if (Tty().outputQueued(fd_, &held) != 0) return false;
  *queued = held > 0 ? static_cast<std::uint32_t>(held) : 0;
  return true;
}

std::uint32_t TtyLine::Apply(const Dcb& dcb) {
  termios t{};
  if (Tty().getAttributes(fd_, &t) != 0) return WinErrorFromErrno(errno, ErrnoContext::kIo);
  bool arbitraryRate = false;
  ApplyDcbToTermios(dcb, lineErrors_, t, &arbitraryRate);
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) return WinErrorFromErrno(errno, ErrnoContext::kIo);
  if (arbitraryRate) {
    if (const int err = SetArbitraryRate(fd_, dcb.BaudRate)) {
      return WinErrorFromErrno(err, ErrnoContext::kIo);
    }
  }
  if (const int err = SetModemControl(fd_, ModemControlFor(dcb))) {
    return WinErrorFromErrno(err, ErrnoContext::kIo);
  }
  const ReceiveRules rules = ReceiveRulesFor(dcb);
  bitsPerCharacter_ = rules.bitsPerCharacter;
  bitsPerSecond_ = rules.bitsPerSecond;
  return kErrorSuccess;
}

std::uint32_t TtyLine::ModemStatus(std::uint32_t* status) {
  if (const int err = ReadModemStatus(fd_, status)) {
    return WinErrorFromErrno(err, ErrnoContext::kIo);
  }
  return kErrorSuccess;
}

void TtyLine::Purge(bool transmit, bool receive) {
  if (transmit) ::tcflush(fd_, TCOFLUSH);
  if (receive) ::tcflush(fd_, TCIFLUSH);
}

std::unique_ptr<LineActivity> TtyLine::WatchLineChanges(LineChangeReport report) {
  if (!HasModemLines(fd_)) return nullptr;
  return std::make_unique<LineChangeWatcher>(fd_, std::move(report));
}

}  // namespace drv::posix
