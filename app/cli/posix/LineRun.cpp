// The parent of a line: one worker process per port, each this program run again with
// --worker, its standard output a pipe of event lines and its standard error a pipe of what it
// would say to a person, both read here. The parent sleeps in poll() on the pipes and a signalfd
// (Ctrl-C, SIGTERM, SIGHUP, a worker's end, the terminal resized) and wakes for nothing else,
// except once a second while a table shows a step's running time. The terminal's signals are the
// parent's alone: it passes them on to the workers as SIGTERM, so that each ends its Box as
// interrupted, records it and closes its port; a second one ends the workers at once. A worker also
// dies with its parent (it is sent SIGTERM). A worker that dies before its Box's record is a failed
// port, and that Box is recorded here.
#include "app/cli/LineRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
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
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "app/ConsoleReply.h"
#include "app/cli/BoxRecord.h"
#include "app/cli/EventStream.h"
#include "app/cli/LineView.h"
#include "app/cli/RecordFile.h"
#include "app/cli/posix/WorkerSpawn.h"

namespace cli {

namespace {

// How long the workers have to close their ports and keep their records once interrupted.
constexpr double kInterruptGraceSeconds = 20;
// How long a parent that ends its workers at once waits for one that is writing a record.
constexpr int kRecordLockWaitMs = 2000;
// A second interrupt ends the workers at once only when a person gave it: tools that stop a
// program send their signal to it and to its group at once (timeout, a service manager), and a
// closing terminal's hang-up comes from the terminal and again from its shell.
constexpr double kSecondInterruptAfterSeconds = 1;

struct Worker {
  pid_t pid = -1;
  int fd = -1;     // the read end of its event pipe; -1 once it has ended
  int errFd = -1;  // the read end of its standard error; -1 once it has ended
  EventLineSplitter lines;
  EventLineSplitter messages;
  int overlongSeen = 0;
  bool reaped = false;
  int waitStatus = 0;
  std::optional<int> endStatus;  // from its end event
  std::optional<int> status;     // the port's, once the worker has gone and said all it had
  // The Box the worker is on, as far as its events tell: counted and recorded by the worker,
  // or here if it dies first.
  bool boxOpen = false;
  std::chrono::system_clock::time_point boxStart;
  app::RunStep step = app::RunStep::Prepared;
  std::string device;
  std::uint64_t recordSince = 0;  // where a record of its current Box can begin in the file
};

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

// A step at which a Box has said something: with --loop, where the port's next Box begins.
bool BoxHasSpoken(app::RunStep step) {
  return step != app::RunStep::Prepared && step != app::RunStep::PortOpened &&
         step != app::RunStep::PortClosed;
}

// Where a Box had got to when its worker died.
const char* During(app::RunStep step) {
  switch (step) {
    case app::RunStep::Erasing:
      return "while the erase ran";
    case app::RunStep::Checking:
      return "while the erased range was read back";
    case app::RunStep::Complete:
    case app::RunStep::PortClosed:
      return "after the Box's result, before its record";
    default:
      return "while waiting for the Box's console";
  }
}

// How a worker ended, for a person: "ended by signal 9 (Killed)" or "ended with status 127".
std::string HowItEnded(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) {
    const int signo = WTERMSIG(waitStatus);
    return "ended by signal " + std::to_string(signo) + " (" + ::strsignal(signo) + ")";
  }
  const int code = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : kExitPortError;
  return "ended with status " + std::to_string(code) +
         (code == 127 ? " (its program could not be started)" : "");
}

}  // namespace

bool SeveralPortsSupported() {
  return true;
}

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
}

int RunLine(const CliOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  auto now = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  const std::string program = WorkerProgram();
  if (program.empty()) {
    std::cerr << "zanowipe-cli: cannot find this program's own file to start a worker process "
                 "for each port (neither /proc/self/exe nor the path it was started by); start "
                 "it by its full path"
              << std::endl;
    return kExitPortError;
  }
  // The workers write their records through the parent's descriptor of the record file.
  int recordFd = -1;
  if (!options.recordPath.empty()) {
    std::string error;
    recordFd = OpenRecordTarget(options.recordPath, error);
    if (recordFd < 0) {
      std::cerr << "zanowipe-cli: " << error << std::endl;
      return kExitUsage;
    }
  }

  // Signals arrive as reads on a descriptor that poll() watches with the pipes.
  sigset_t watched, previous;
  sigemptyset(&watched);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGWINCH}) sigaddset(&watched, s);
  if (::sigprocmask(SIG_BLOCK, &watched, &previous) != 0) return kExitPortError;
  const int signals = ::signalfd(-1, &watched, SFD_CLOEXEC);
  if (signals < 0) {
    std::cerr << "zanowipe-cli: cannot watch signals: " << std::strerror(errno) << std::endl;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (recordFd >= 0) ::close(recordFd);
    return kExitPortError;
  }

  std::vector<std::string> names;
  for (const PortChoice& p : options.ports) names.push_back(p.given);
  const LineView::Mode mode =
      LineView::ChooseMode(options.quiet, ::isatty(STDOUT_FILENO) != 0, std::getenv("TERM"));
  LineView view(std::cout, std::cerr, mode, names, ClockNow());

  std::vector<Worker> workers(options.ports.size());
  for (std::size_t i = 0; i < workers.size(); ++i) {
    std::vector<std::string> args = WorkerArguments(options, options.ports[i]);
    args.insert(args.begin(), "zanowipe-cli");
    WorkerPipes pipes;
    Worker& w = workers[i];
    w.pid = StartWorker(program, args, previous, recordFd, pipes);
    w.fd = pipes.events;
    w.errFd = pipes.messages;
    w.device = options.ports[i].given;
    // Without --loop every port is one Box, from the start.
    w.boxOpen = !options.loop;
    w.boxStart = std::chrono::system_clock::now();
    if (recordFd >= 0) w.recordSince = RecordFileSize(recordFd);
    if (w.pid < 0) {
      w.reaped = true;
      view.Problem(i, std::string("cannot start a worker: ") + std::strerror(errno), now());
    }
  }
  if (mode == LineView::Mode::Table) view.Draw(now(), SizeOfTerminal());

  int interrupts = 0;
  double interruptedAt = 0;
  double killAt = -1;
  auto unfinished = [&] {
    return static_cast<int>(
        std::count_if(workers.begin(), workers.end(), [](const Worker& w) { return !w.reaped; }));
  };
  auto running = [&] {
    return std::any_of(workers.begin(), workers.end(),
                       [](const Worker& w) { return w.fd >= 0 || w.errFd >= 0 || !w.reaped; });
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
  // Ends every worker still there, now. None is in the middle of a record meanwhile: the
  // record file's lock is held while they go.
  auto endNow = [&](const std::string& why) {
    if (unfinished() == 0) return;
    view.Notice(why + ": ending the " + std::to_string(unfinished()) +
                " port(s) still running at once");
    std::optional<RecordTargetLock> lock;
    if (recordFd >= 0) lock.emplace(recordFd, kRecordLockWaitMs);
    for (Worker& w : workers) {
      if (!w.reaped) ::kill(w.pid, SIGKILL);
    }
    for (Worker& w : workers) {
      if (w.reaped) continue;
      int status = 0;
      while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
      }
      w.reaped = true;
      w.waitStatus = status;
    }
    killAt = -1;
  };
  auto interrupt = [&](int signo) {
    if (interrupts > 0) {
      if (signo != SIGHUP && now() >= interruptedAt + kSecondInterruptAfterSeconds) {
        ++interrupts;
        endNow("interrupted again");
      }
      return;
    }
    ++interrupts;
    interruptedAt = now();
    killAt = now() + kInterruptGraceSeconds;
    for (Worker& w : workers) {
      if (!w.reaped) ::kill(w.pid, SIGTERM);
    }
    const int left = unfinished();
    if (left > 0) {
      view.Notice("interrupted: waiting for " + std::to_string(left) +
                  " port(s) to close and keep their records (at most " +
                  std::to_string(static_cast<int>(kInterruptGraceSeconds)) +
                  " s); Ctrl-C again ends them at once");
    }
  };

  // The Box a worker was on when it died, recorded here (unless the worker had written its
  // record before it died) and counted failed.
  auto recordDeadBox = [&](std::size_t i, const std::string& message) {
    Worker& w = workers[i];
    if (recordFd < 0) return;
    BoxRecord r;
    r.start = w.boxStart;
    r.end = std::chrono::system_clock::now();
    r.host = HostName();
    r.port = options.ports[i].given;
    r.device = w.device;
    r.withConfiguration = options.includeConfig;
    r.readBackOn = !options.noReadback;
    r.status = kExitPortError;
    r.message = message;
    const std::string port = r.port;
    auto same = [&port](std::string_view line) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      return j.is_object() && j.value("port", "") == port;
    };
    std::string error;
    bool there = false;
    if (!AppendRecordLineUnlessThere(recordFd, options.recordPath, w.recordSince, same,
                                     EncodeRecord(r), error, there)) {
      view.Problem(i, error, now());
    }
  };

  // A port ends when its worker has gone and its pipes are read to the end: with the status its
  // last event gave, or as a failure when it died without one.
  auto conclude = [&](std::size_t i) {
    Worker& w = workers[i];
    if (w.status || w.fd >= 0 || w.errFd >= 0 || !w.reaped) return;
    if (w.endStatus) {
      w.status = *w.endStatus;
      return;
    }
    w.status = kExitPortError;
    std::string message = "the worker could not be started";
    if (w.pid >= 0) {
      const std::string how = HowItEnded(w.waitStatus);
      view.Problem(i, "the worker was " + how + " " + During(w.step) + ", before its result",
                   now());
      message = "the worker " + how + " " + During(w.step);
      if (WIFEXITED(w.waitStatus)) {
        w.status = std::max(WEXITSTATUS(w.waitStatus), static_cast<int>(kExitPortError));
      }
    }
    WorkerEvent end;
    end.kind = WorkerEvent::Kind::End;
    end.exitStatus = *w.status;
    end.done = view.Done(i);
    end.failed = view.Failed(i);
    end.unverified = view.Unverified(i);
    if (w.boxOpen || w.pid < 0) {
      recordDeadBox(i, message);
      ++end.failed;
    }
    view.Apply(i, end, now());
  };

  // What a worker said about its Box, for the record of a Box it could not finish.
  auto follow = [&](Worker& w, const WorkerEvent& e) {
    switch (e.kind) {
      case WorkerEvent::Kind::Port:
        w.device = e.device;
        break;
      case WorkerEvent::Kind::Progress:
        if (!w.boxOpen && BoxHasSpoken(e.step)) {
          w.boxOpen = true;
          w.boxStart = std::chrono::system_clock::now();
        }
        if (w.boxOpen) w.step = e.step;
        break;
      case WorkerEvent::Kind::Counts:
        // Counted, and its record written.
        w.boxOpen = false;
        w.step = app::RunStep::Prepared;
        if (recordFd >= 0) w.recordSince = RecordFileSize(recordFd);
        break;
      case WorkerEvent::Kind::End:
        w.endStatus = e.exitStatus;
        w.boxOpen = false;
        break;
      default:
        break;
    }
  };

  std::vector<char> buffer(64 * 1024);
  while (running()) {
    std::vector<pollfd> fds = {{signals, POLLIN, 0}};
    std::vector<std::pair<std::size_t, bool>> owners = {{workers.size(), false}};
    for (std::size_t i = 0; i < workers.size(); ++i) {
      if (workers[i].fd >= 0) {
        fds.push_back({workers[i].fd, POLLIN, 0});
        owners.push_back({i, false});
      }
      if (workers[i].errFd >= 0) {
        fds.push_back({workers[i].errFd, POLLIN, 0});
        owners.push_back({i, true});
      }
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
      interrupt(SIGTERM);
    }
    if (killAt >= 0 && now() >= killAt) {
      endNow("the ports still running " + std::to_string(static_cast<int>(kInterruptGraceSeconds)) +
             " s after the interrupt");
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      // One signal a round; poll() reports the descriptor again while more are pending.
      signalfd_siginfo info{};
      if (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGCHLD) {
          reap();
        } else if (info.ssi_signo != SIGWINCH) {
          // A resize needs nothing more than the wake-up: this round's draw asks the new size.
          interrupt(static_cast<int>(info.ssi_signo));
        }
      }
    }
    for (std::size_t k = 1; ready > 0 && k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      const auto [i, isErr] = owners[k];
      Worker& w = workers[i];
      int& fd = isErr ? w.errFd : w.fd;
      if (fd < 0) continue;  // ended by an earlier piece of this round
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (isErr) {
        std::vector<std::string> said =
            n > 0 ? w.messages.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))
                  : w.messages.Feed("\n");
        for (std::string& line : said) {
          // A note that names the port's device already stands in that port's message.
          for (const std::string& name : {w.device, options.ports[i].given}) {
            if (!name.empty() && line.rfind(name + ": ", 0) == 0) line.erase(0, name.size() + 2);
          }
          // Whatever it says may hold what a device or server sent: shown escaped.
          if (!line.empty()) view.Note(i, app::ShownText(line, 4096));
        }
        if (n <= 0) {
          ::close(fd);
          fd = -1;
        }
        continue;
      }
      if (n <= 0) {
        ::close(fd);
        fd = -1;
        if (w.lines.Pending()) {
          view.Problem(i, "the worker's last event was cut off", now());
        }
        continue;
      }
      for (const std::string& line : w.lines.Feed(std::string_view(buffer.data(), n))) {
        WorkerEvent event;
        std::string error;
        if (!ParseEvent(line, event, error)) {
          view.Problem(i, "the worker sent a line that is not an event (" + error + ")", now());
          continue;
        }
        follow(w, event);
        view.Apply(i, event, now());
      }
      if (w.lines.Overlong() != w.overlongSeen) {
        w.overlongSeen = w.lines.Overlong();
        view.Problem(i, "the worker sent a line too long to be an event", now());
      }
    }
    for (std::size_t i = 0; i < workers.size(); ++i) conclude(i);
    if (mode == LineView::Mode::Table) view.Draw(now(), SizeOfTerminal());
  }

  int worst = kExitComplete;
  for (const Worker& w : workers) worst = std::max(worst, w.status.value_or(kExitPortError));
  if (interrupts > 0) worst = std::max(worst, static_cast<int>(kExitInterrupted));
  view.Finish(now(), mode == LineView::Mode::Table ? SizeOfTerminal() : TerminalSize{});
  ::close(signals);
  if (recordFd >= 0) ::close(recordFd);
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  return worst;
}

}  // namespace cli
