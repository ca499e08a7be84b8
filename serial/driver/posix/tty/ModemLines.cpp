#include "serial/driver/posix/tty/ModemLines.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "serial/driver/CommTypes.h"
#include "serial/driver/posix/engine/ErrnoToWinError.h"

namespace drv::posix {
namespace {

int ChangeLine(int fd, int bit, LineLevel level) {
  const unsigned long request = level == LineLevel::kOn ? TIOCMBIS : TIOCMBIC;
  if (ioctl(fd, request, &bit) == 0) return 0;
  return IsNoModemLinesErrno(errno) ? 0 : errno;
}

// TIOCMIWAIT sleeps in the kernel until a line changes or the device hangs up; a signal with
// a handler that does not restart system calls is the one way to wake it for a close. SIGURG
// is ignored by default, so its handler changes nothing else in the program.
constexpr int kWakeSignal = SIGURG;

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    sigaction(kWakeSignal, nullptr, &current);
    if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
    sigaction(kWakeSignal, &action, nullptr);
  });
}

}  // namespace

int SetModemControl(int fd, const ModemControl& control) {
  if (int err = ChangeLine(fd, TIOCM_DTR, control.dtr)) return err;
  return ChangeLine(fd, TIOCM_RTS, control.rts);
}

int ReadModemStatus(int fd, std::uint32_t* status) {
  int bits = 0;
  *status = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return IsNoModemLinesErrno(errno) ? 0 : errno;
  if (bits & TIOCM_CTS) *status |= kMsCtsOn;
  if (bits & TIOCM_DSR) *status |= kMsDsrOn;
  if (bits & TIOCM_RNG) *status |= kMsRingOn;
  if (bits & TIOCM_CAR) *status |= kMsRlsdOn;
  return 0;
}

bool HasModemLines(int fd) {
  int bits = 0;
  return ioctl(fd, TIOCMGET, &bits) == 0;
}

LineChangeWatcher::LineChangeWatcher(int fd, Report report) : fd_(fd), report_(std::move(report)) {
  InstallWakeHandler();
  thread_ = std::thread([this] { Run(); });
}

LineChangeWatcher::~LineChangeWatcher() {
  stop_ = true;
  // The signal may land just before the thread enters the ioctl; repeat until it has left.
  while (!ended_) {
    pthread_kill(thread_.native_handle(), kWakeSignal);
    for (int i = 0; i < 20 && !ended_; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  thread_.join();
}

void LineChangeWatcher::Run() {
  int before = 0;
  ioctl(fd_, TIOCMGET, &before);
  while (!stop_) {
    if (ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG) != 0) {
      if (errno == EINTR) continue;
      break;  // hung up or unsupported: no more line events
    }
    int now = 0;
    if (ioctl(fd_, TIOCMGET, &now) != 0) break;
    const int changed = before ^ now;
    before = now;
    std::uint32_t events = 0;
    if (changed & TIOCM_CTS) events |= kEvCts;
    if (changed & TIOCM_DSR) events |= kEvDsr;
    if (changed & TIOCM_CAR) events |= kEvRlsd;
    // Windows reports the ring indicator's trailing edge only as EV_RING; a change either way
    // is the closest generic rendering.
    if (changed & TIOCM_RNG) events |= kEvRing;
    if (events != 0) report_(events);
  }
  ended_ = true;
}

}  // namespace drv::posix
