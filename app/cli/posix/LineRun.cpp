// The parent of a line: one worker process per port, each this program run again with
// --worker, its standard output a pipe of event lines. The parent sleeps in poll() on the pipes
// and a signalfd (Ctrl-C, SIGTERM, a worker's end) and wakes for nothing else, except once a
// second while a table shows a step's running time. A worker dies with its parent (it is sent
// SIGTERM, and ends its Box as interrupted), and a worker that dies is a failed port.
#include "app/cli/LineRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <vector>

#include "app/cli/EventStream.h"
#include "app/cli/LineView.h"

namespace cli {

namespace {

// How long the workers have to close their ports and keep their records once interrupted.
constexpr double kInterruptGraceSeconds = 20;

struct Worker {
  pid_t pid = -1;
  int fd = -1;  // the read end of its event pipe; -1 once it has ended
  EventLineSplitter lines;
  int overlongSeen = 0;
  bool reaped = false;
  int waitStatus = 0;
  std::optional<int> endStatus;  // from its end event
  std::optional<int> status;     // the port's, once the worker has gone and said all it had
};

// The program's arguments prepared before fork(): the child may only call exec then.
struct Spawn {
  std::vector<std::string> args;
  std::vector<char*> argv;
};

pid_t StartWorker(const Spawn& spawn, const sigset_t& childMask, int& readFd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::sigprocmask(SIG_SETMASK, &childMask, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have gone before the request above: then nobody is left to ask for.
    if (::getppid() != parent) ::_exit(kExitInterrupted);
    ::execv("/proc/self/exe", spawn.argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return -1;
  }
  readFd = fds[0];
  return pid;
}

// Asked again at every draw: a resize (SIGWINCH, watched with the other signals) wakes the
// loop, and the draw that ends its round sees the new size.
TerminalSize SizeOfTerminal() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {};
  TerminalSize shown;
  if (size.ws_col > 0) shown.columns = size.ws_col;
  shown.rows = size.ws_row;
  return shown;
}

std::string ClockNow() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  char text[16] = "";
  if (::localtime_r(&t, &local) != nullptr) std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace

bool SeveralPortsSupported() {
  return true;
}

void PrepareWorkerProcess() {
  ::signal(SIGPIPE, SIG_IGN);
}

int RunLine(const CliOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  auto now = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  // Signals arrive as reads on a descriptor that poll() watches with the pipes.
  sigset_t watched, previous;
  sigemptyset(&watched);
  for (int s : {SIGINT, SIGTERM, SIGCHLD, SIGWINCH}) sigaddset(&watched, s);
  if (::sigprocmask(SIG_BLOCK, &watched, &previous) != 0) return kExitPortError;
  const int signals = ::signalfd(-1, &watched, SFD_CLOEXEC);
  if (signals < 0) {
    std::cerr << "zanowipe-cli: cannot watch signals: " << std::strerror(errno) << std::endl;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return kExitPortError;
  }

  std::vector<std::string> names;
  for (const PortChoice& p : options.ports) names.push_back(p.given);
  const LineView::Mode mode =
      LineView::ChooseMode(options.quiet, ::isatty(STDOUT_FILENO) != 0, std::getenv("TERM"));
  LineView view(std::cout, std::cerr, mode, names, ClockNow());

  std::vector<Worker> workers(options.ports.size());
  for (std::size_t i = 0; i < workers.size(); ++i) {
    Spawn spawn;
    spawn.args = WorkerArguments(options, options.ports[i]);
    spawn.args.insert(spawn.args.begin(), "zanowipe-cli");
    for (std::string& a : spawn.args) spawn.argv.push_back(a.data());
    spawn.argv.push_back(nullptr);
    workers[i].pid = StartWorker(spawn, previous, workers[i].fd);
    if (workers[i].pid < 0) {
      workers[i].reaped = true;
      view.Problem(i, std::string("cannot start a worker: ") + std::strerror(errno), now());
    }
  }
  if (mode == LineView::Mode::Table) view.Draw(now(), SizeOfTerminal());

  bool interrupted = false;
  double killAt = -1;
  auto running = [&] {
    return std::any_of(workers.begin(), workers.end(),
                       [](const Worker& w) { return w.fd >= 0 || !w.reaped; });
  };
  // Every child that has ended, however many SIGCHLDs were merged into one.
  auto reap = [&] {
    int status = 0;
    for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
      for (Worker& w : workers) {
        if (w.pid != pid) continue;
        w.reaped = true;
        w.waitStatus = status;
      }
    }
  };
  auto interrupt = [&] {
    if (interrupted) return;
    interrupted = true;
    killAt = now() + kInterruptGraceSeconds;
    for (Worker& w : workers) {
      if (!w.reaped) ::kill(w.pid, SIGTERM);
    }
  };

  // A port ends when its worker has gone and its pipe is read to the end: with the status its
  // last event gave, or as a failure when it died without one.
  auto conclude = [&](std::size_t i) {
    Worker& w = workers[i];
    if (w.status || w.fd >= 0 || !w.reaped) return;
    if (w.endStatus) {
      w.status = *w.endStatus;
      return;
    }
    w.status = kExitPortError;
    if (w.pid < 0) return;  // it never started, which has been said
    if (WIFSIGNALED(w.waitStatus)) {
      view.Problem(i,
                   std::string("the worker was ended by signal ") +
                       ::strsignal(WTERMSIG(w.waitStatus)) + " before its result",
                   now());
    } else {
      const int code = WIFEXITED(w.waitStatus) ? WEXITSTATUS(w.waitStatus) : kExitPortError;
      view.Problem(i, "the worker ended with status " + std::to_string(code) + " before its result",
                   now());
      w.status = std::max(code, static_cast<int>(kExitPortError));
    }
    WorkerEvent end;
    end.kind = WorkerEvent::Kind::End;
    end.exitStatus = *w.status;
    end.done = view.Done(i);
    end.failed = view.Failed(i);
    end.unverified = view.Unverified(i);
    view.Apply(i, end, now());
  };

  std::vector<char> buffer(64 * 1024);
  while (running()) {
    std::vector<pollfd> fds = {{signals, POLLIN, 0}};
    std::vector<std::size_t> owners = {workers.size()};
    for (std::size_t i = 0; i < workers.size(); ++i) {
      if (workers[i].fd < 0) continue;
      fds.push_back({workers[i].fd, POLLIN, 0});
      owners.push_back(i);
    }
    // No timeout at all unless a table shows a running time, or workers are being waited for.
    double wakeAt = view.NextTick(now());
    if (killAt >= 0 && (wakeAt < 0 || killAt < wakeAt)) wakeAt = killAt;
    int timeoutMs = -1;
    if (wakeAt >= 0) {
      timeoutMs = static_cast<int>(std::ceil(std::max(0.0, wakeAt - now()) * 1000.0)) + 1;
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno != EINTR) {
      std::cerr << "zanowipe-cli: poll: " << std::strerror(errno) << std::endl;
      interrupt();
    }
    if (killAt >= 0 && now() >= killAt) {
      for (Worker& w : workers) {
        if (!w.reaped) ::kill(w.pid, SIGKILL);
      }
      killAt = -1;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      // One signal a round; poll() reports the descriptor again while more are pending.
      signalfd_siginfo info{};
      if (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM) interrupt();
        if (info.ssi_signo == SIGCHLD) reap();
      }
    }
    for (std::size_t k = 1; ready > 0 && k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      Worker& w = workers[owners[k]];
      const ssize_t n = ::read(w.fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(w.fd);
        w.fd = -1;
        if (w.lines.Pending()) {
          view.Problem(owners[k], "the worker's last event was cut off", now());
        }
        continue;
      }
      for (const std::string& line : w.lines.Feed(std::string_view(buffer.data(), n))) {
        WorkerEvent event;
        std::string error;
        if (!ParseEvent(line, event, error)) {
          view.Problem(owners[k], "the worker sent a line that is not an event (" + error + ")",
                       now());
          continue;
        }
        if (event.kind == WorkerEvent::Kind::End) w.endStatus = event.exitStatus;
        view.Apply(owners[k], event, now());
      }
      if (w.lines.Overlong() != w.overlongSeen) {
        w.overlongSeen = w.lines.Overlong();
        view.Problem(owners[k], "the worker sent a line too long to be an event", now());
      }
    }
    for (std::size_t i = 0; i < workers.size(); ++i) conclude(i);
    if (mode == LineView::Mode::Table) view.Draw(now(), SizeOfTerminal());
  }

  int worst = kExitComplete;
  for (const Worker& w : workers) worst = std::max(worst, w.status.value_or(kExitPortError));
  if (interrupted) worst = std::max(worst, static_cast<int>(kExitInterrupted));
  view.Finish(now(), mode == LineView::Mode::Table ? SizeOfTerminal() : TerminalSize{});
  ::close(signals);
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  return worst;
}

}  // namespace cli
