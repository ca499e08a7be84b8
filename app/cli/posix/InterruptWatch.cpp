// A self-pipe: the handler only writes a byte, which is all it may safely do; a thread blocked
// in read() turns the byte into the flag and the wake-up. A signal that was ignored when the
// watch began stays ignored (nohup, a background job, a line's worker, whose parent alone hears
// the terminal); one held back until now (a worker starts so, and may be told to stop before it
// could listen) is let through once its handler is in place, and arrives then.
#include "app/cli/InterruptWatch.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

namespace cli {

namespace {

// Ctrl-C, a polite kill, and the terminal closed.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr char kSignalled = 's';
constexpr char kStop = 'q';

volatile std::sig_atomic_t handlerFd = -1;

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char byte = kSignalled;
  // A full pipe already holds a wake-up; the byte is not needed then.
  [[maybe_unused]] const ssize_t ignored = ::write(handlerFd, &byte, 1);
  errno = saved;
}

}  // namespace

struct InterruptWatch::State {
  std::function<void()> wake;
  std::atomic<bool> interrupted{false};
  int readFd = -1;
  int writeFd = -1;
  struct sigaction previous[std::size(kSignals)] = {};
  bool watched[std::size(kSignals)] = {};
  std::thread reader;

  void Read() {
    for (;;) {
      char byte = 0;
      const ssize_t n = ::read(readFd, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || byte == kStop) return;
      interrupted = true;
      if (wake) wake();
    }
  }
};

InterruptWatch::InterruptWatch(std::function<void()> wake) : state_(std::make_unique<State>()) {
  state_->wake = std::move(wake);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;  // without a pipe the default handlers stay
  state_->readFd = fds[0];
  state_->writeFd = fds[1];
  ::fcntl(state_->writeFd, F_SETFL, O_NONBLOCK);  // the handler must never block
  handlerFd = state_->writeFd;
  state_->reader = std::thread([s = state_.get()] { s->Read(); });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigset_t letThrough;
  sigemptyset(&letThrough);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], nullptr, &state_->previous[i]);
    if (state_->previous[i].sa_handler == SIG_IGN) continue;
    ::sigaction(kSignals[i], &action, nullptr);
    state_->watched[i] = true;
    sigaddset(&letThrough, kSignals[i]);
  }
  ::pthread_sigmask(SIG_UNBLOCK, &letThrough, nullptr);
}

InterruptWatch::~InterruptWatch() {
  if (state_->readFd < 0) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    if (state_->watched[i]) ::sigaction(kSignals[i], &state_->previous[i], nullptr);
  }
  const char byte = kStop;
  while (::write(state_->writeFd, &byte, 1) < 0 && errno == EINTR) {
  }
  state_->reader.join();
  handlerFd = -1;
  ::close(state_->readFd);
  ::close(state_->writeFd);
}

bool InterruptWatch::Interrupted() const {
  return state_->interrupted;
}

}  // namespace cli
