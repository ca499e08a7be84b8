// A production line at scale: zanowipe-cli with N ports at once (16 by default, then 64), each
// against its own boxsim on a pseudo-terminal (and, when ser2net is installed, the same again
// with every Box behind a ser2net of its own, through rfc2217:// ports), every Box switched on by
// signal once all ports wait for it. Measured: the wall time from switching the Boxes on to the
// line's end, against one Box on its own; the CPU of the parent (a Box) and of its workers; the
// memory of the parent and of a worker; their wake-ups while every port waits for its Box (there
// should be none: nothing periodic runs); every flash checked byte for byte and every record read
// back. Then the N-port line once more with its table on a terminal: the bytes, redraws and rows
// written that a Box costs there, and whether the screen scrolled.
//
//   bench_line --boxsim PATH --cli PATH [--boxes N] [--big-boxes M] [--idle-seconds S] [--quick]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/BenchSupport.h"
#include "tests/e2e/Ser2net.h"
#include "tests/e2e/TerminalProcess.h"
#include "tests/support/ScreenModel.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

// A child with its output in files; killed with its process group if still running at the end.
struct Child {
  pid_t pid = -1;
  std::string out, err;
  Child(const std::vector<std::string>& argv, const std::string& dir, const std::string& name)
      : out(dir + "/" + name + ".out"), err(dir + "/" + name + ".err") {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      if (::chdir(dir.c_str()) != 0) ::_exit(126);
      std::FILE* o = std::freopen(out.c_str(), "w", stdout);
      std::FILE* e = std::freopen(err.c_str(), "w", stderr);
      std::FILE* i = std::freopen("/dev/null", "r", stdin);
      if (!o || !e || !i) ::_exit(126);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid > 0) {
      ::kill(-pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
  }
  // CPU of the child and of every child of its that it collected, in milliseconds.
  double cpuMs = 0;
  int Wait() {
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    cpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

bool WaitUntil(const std::function<bool()>& done, double seconds) {
  const std::int64_t end = bench::NowNs() + static_cast<std::int64_t>(seconds * 1e9);
  while (!done()) {
    if (bench::NowNs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Fields of /proc/PID/stat after the command name.
std::vector<std::string> StatFields(pid_t pid) {
  const std::string text = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = text.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos) return fields;
  std::istringstream rest(text.substr(close + 2));
  for (std::string f; rest >> f;) fields.push_back(f);
  return fields;  // [0] is field 3 (state), [1] field 4 (ppid), [11] field 14 (utime) ...
}

std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  // The kernel's own list where it keeps one; looking through all of /proc fills the caches
  // that the parent's kernel time is then spent emptying when it collects its workers.
  std::ifstream listed("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                       "/children");
  if (listed) {
    for (pid_t pid; listed >> pid;) children.push_back(pid);
    return children;
  }
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    const auto fields = StatFields(pid);
    if (fields.size() > 1 && std::stoi(fields[1]) == parent) children.push_back(pid);
  }
  return children;
}

// Context switches of every thread of a process: each is a wake-up that followed a sleep, or a
// preemption.
long Switches(pid_t pid) {
  long total = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

// Resident memory of a process in kB (VmRSS), or 0 when it has gone.
long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

int Threads(pid_t pid) {
  int n = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    (void)task;
    ++n;
  }
  return n;
}

struct Line {
  std::vector<std::unique_ptr<Child>> boxes;
  std::vector<std::unique_ptr<e2e::Ser2net>> servers;
  std::vector<std::string> images, devices, ports;
  std::unique_ptr<Child> cli;
  std::string record;
  double wallSeconds = 0;
  double parentCpuMs = 0, workersCpuMs = 0;
  long idleParent = -1, idleWorkers = -1;
  int workers = 0, workerThreads = 0;
  long parentRssKb = 0, workerRssKb = 0, workerRssMaxKb = 0;  // while every port waits
  double idleSeconds = 0;
  int status = -1;
};

// Runs a line of n Boxes; measures the idle wake-ups over idleSeconds first when asked.
// network: each Box behind a ser2net of its own, its port rfc2217://127.0.0.1:PORT.
// Starts n Boxes, each on a pty of its own, and learns their devices.
bool StartBoxes(const std::string& boxsim, const std::string& dir, int n, Line& line) {
  for (int i = 0; i < n; ++i) {
    const std::string image = dir + "/box" + std::to_string(i) + ".img";
    line.images.push_back(image);
    line.boxes.push_back(
        std::make_unique<Child>(std::vector<std::string>{boxsim, "--flash", image, "--flash-init",
                                                         "--fast", "--wait-signal", "-v"},
                                dir, "box" + std::to_string(i)));
  }
  for (auto& box : line.boxes) {
    if (!WaitUntil([&] { return ReadText(box->out).find('\n') != std::string::npos; }, 30)) {
      std::fprintf(stderr, "line: boxsim did not start\n");
      return false;
    }
    const std::string out = ReadText(box->out);
    line.devices.push_back(out.substr(0, out.find('\n')));
  }
  return true;
}

bool RunLine(const std::string& boxsim, const std::string& cliPath, const std::string& dir, int n,
             double idleSeconds, bool network, Line& line) {
  if (!StartBoxes(boxsim, dir, n, line)) return false;
  for (const std::string& device : line.devices) {
    if (!network) {
      line.ports.push_back(device);
      continue;
    }
    line.servers.push_back(std::make_unique<e2e::Ser2net>(device, e2e::Ser2net::Kind::kRfc2217, dir,
                                                          std::vector<std::string>{}));
    if (!line.servers.back()->Ready()) {
      std::fprintf(stderr, "line: ser2net: %s\n", line.servers.back()->Problem().c_str());
      return false;
    }
    line.ports.push_back(line.servers.back()->Url());
  }
  line.record = dir + "/records-" + std::to_string(n) + ".jsonl";
  std::vector<std::string> argv = {cliPath, "--yes", "--record", line.record, "--timeout", "120"};
  for (const std::string& p : line.ports) argv.insert(argv.end(), {"--port", p});
  line.cli = std::make_unique<Child>(argv, dir, "cli-" + std::to_string(n));
  // Every port open and every Box aware of it before any is switched on.
  const bool waiting = WaitUntil(
      [&] {
        if (Count(ReadText(line.cli->out), "COM Port opened") < n && n > 1) return false;
        if (n == 1 && ReadText(line.cli->out).find("COM Port opened") == std::string::npos) {
          return false;
        }
        for (auto& box : line.boxes) {
          if (ReadText(box->err).find("device opened") == std::string::npos) return false;
        }
        return true;
      },
      60);
  if (!waiting) {
    std::fprintf(stderr, "line: the ports did not all open:\n%s%s\n",
                 ReadText(line.cli->out).c_str(), ReadText(line.cli->err).c_str());
    return false;
  }
  if (idleSeconds > 0) {
    // Let every thread reach its wait, then count over the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<pid_t> workers = n > 1 ? ChildrenOf(line.cli->pid) : std::vector<pid_t>{};
    line.workers = static_cast<int>(workers.size());
    for (pid_t w : workers) line.workerThreads += Threads(w);
    line.parentRssKb = RssKb(line.cli->pid);
    for (pid_t w : workers) {
      const long kb = RssKb(w);
      line.workerRssKb += kb;
      line.workerRssMaxKb = std::max(line.workerRssMaxKb, kb);
    }
    if (!workers.empty()) line.workerRssKb /= static_cast<long>(workers.size());
    const long parentBefore = Switches(line.cli->pid);
    long workersBefore = 0;
    for (pid_t w : workers) workersBefore += Switches(w);
    const std::int64_t t0 = bench::NowNs();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    line.idleSeconds = static_cast<double>(bench::NowNs() - t0) / 1e9;
    line.idleParent = Switches(line.cli->pid) - parentBefore;
    long workersAfter = 0;
    for (pid_t w : workers) workersAfter += Switches(w);
    line.idleWorkers = workersAfter - workersBefore;
  }

  const std::int64_t on = bench::NowNs();
  for (auto& box : line.boxes) ::kill(box->pid, SIGUSR1);
  // The parent's own CPU and its reaped workers' are read while it is a zombie, before it is
  // collected.
  if (!WaitUntil(
          [&] {
            const auto f = StatFields(line.cli->pid);
            return f.empty() || f[0] == "Z";
          },
          180)) {
    std::fprintf(stderr, "line: the line did not end\n");
    return false;
  }
  line.wallSeconds = static_cast<double>(bench::NowNs() - on) / 1e9;
  // The zombie's own run time (nanoseconds; the parent has one thread); its workers' is the
  // rest of what the collection reports.
  std::istringstream schedstat(ReadText("/proc/" + std::to_string(line.cli->pid) + "/schedstat"));
  double parentNs = -1;
  schedstat >> parentNs;
  line.status = line.cli->Wait();
  line.parentCpuMs = parentNs >= 0 ? parentNs / 1e6 : 0;
  line.workersCpuMs = line.cli->cpuMs - line.parentCpuMs;
  return true;
}

// What a line's table cost on a terminal from the Boxes' switch-on to the line's end.
struct TerminalRun {
  int columns = 0, rows = 0;
  int status = -1;
  double bytes = 0;
  int draws = 0;        // each begins by moving the cursor up into the table
  int rowsWritten = 0;  // each row written is erased first
  int scrolled = 0;     // lines the screen scrolled while the Boxes ran, before the summary
};

int CountMovesUp(const std::string& text) {
  int n = 0;
  for (std::size_t at = text.find("\x1b["); at != std::string::npos;
       at = text.find("\x1b[", at + 1)) {
    std::size_t end = at + 2;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end < text.size() && text[end] == 'F') ++n;
  }
  return n;
}

// The line of n Boxes on ptys once more, its parent's output a terminal of the given size.
bool RunOnTerminal(const std::string& boxsim, const std::string& cliPath, const std::string& dir,
                   int n, TerminalRun& run) {
  Line line;
  if (!StartBoxes(boxsim, dir, n, line)) return false;
  std::vector<std::string> argv = {cliPath, "--yes", "--timeout", "120"};
  for (const std::string& p : line.devices) argv.insert(argv.end(), {"--port", p});
  e2e::TerminalProcess cli(argv, dir, run.columns, run.rows);
  auto screen = [&] {
    testsupport::ScreenModel model(run.columns, run.rows);
    model.Feed(cli.Screen());
    return model;
  };
  const bool waiting = WaitUntil(
      [&] {
        for (auto& box : line.boxes) {
          if (ReadText(box->err).find("device opened") == std::string::npos) return false;
        }
        // A table cut to a small terminal shows only some ports: their workers' state is
        // then known from the Boxes.
        return run.rows < n + 4 || Count(screen().Text(), "COM Port opened") >= n;
      },
      60);
  if (!waiting) {
    std::fprintf(stderr, "line on a terminal: the ports did not all open:\n%s%s\n",
                 cli.Screen().c_str(), cli.Stderr().c_str());
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::size_t before = cli.Screen().size();
  const int scrolledBefore = screen().Scrolled();
  for (auto& box : line.boxes) ::kill(box->pid, SIGUSR1);
  const auto e = cli.Wait(std::chrono::seconds(180));
  if (!e) {
    std::fprintf(stderr, "line on a terminal: the line did not end\n");
    return false;
  }
  run.status = e->status;
  const std::string all = cli.Screen();
  const std::string tail = all.substr(std::min(before, all.size()));
  run.bytes = static_cast<double>(tail.size());
  run.draws = CountMovesUp(tail);
  run.rowsWritten = Count(tail, "\x1b[2K");
  // Scrolling while the table shows; the summary after it may well scroll a small terminal.
  testsupport::ScreenModel model(run.columns, run.rows);
  model.Feed(all.substr(0, all.find("Summary:", before)));
  run.scrolled = model.Scrolled() - scrolledBefore;
  return true;
}

void ReportTerminal(const std::string& key, int n, const TerminalRun& run) {
  std::printf(
      "%d Boxes with the table on a %dx%d terminal (exit %d): %.0f bytes (%.0f a Box), %d "
      "redraws, %d rows written (%.1f a Box), %d lines scrolled before the summary\n",
      n, run.columns, run.rows, run.status, run.bytes, run.bytes / n, run.draws, run.rowsWritten,
      static_cast<double>(run.rowsWritten) / n, run.scrolled);
  bench::Result(key + ".columns", run.columns, "count");
  bench::Result(key + ".rows", run.rows, "count");
  bench::Result(key + ".bytes", run.bytes, "B");
  bench::Result(key + ".bytes_per_box", run.bytes / n, "B");
  bench::Result(key + ".draws", run.draws, "count");
  bench::Result(key + ".rows_written", run.rowsWritten, "count");
  bench::Result(key + ".rows_written_per_box", static_cast<double>(run.rowsWritten) / n, "count");
  bench::Result(key + ".scrolled", run.scrolled, "count");
}

// Checks the flashes and the records of a line and reports it under `key`; false when a Box was
// not erased and recorded.
bool Report(const std::string& boxsim, const std::string& dir, const std::string& key,
            const std::string& what, const Line& line, const Line& single) {
  const int n = static_cast<int>(line.images.size());
  int verified = 0;
  for (const std::string& image : line.images) {
    Child check({boxsim, "--verify-flash", image, "--erased", "a1c00000", "a1ffffff"}, dir,
                "verify");
    if (check.Wait() == 0) ++verified;
  }
  const std::string records = ReadText(line.record);
  const int lines = Count(records, "\n");
  const int complete = Count(records, "\"result\":\"COMPLETE\"");
  std::printf("%d Boxes at once%s: %.2f s (exit %d), %.2fx the single Box\n", n, what.c_str(),
              line.wallSeconds, line.status, line.wallSeconds / single.wallSeconds);
  std::printf("  flash images erased exactly in the user range: %d of %d\n", verified, n);
  std::printf("  record lines: %d, of which COMPLETE: %d\n", lines, complete);
  std::printf("  CPU: parent %.0f ms (%.1f ms a Box), %d workers %.0f ms (%.1f ms each)\n",
              line.parentCpuMs, line.parentCpuMs / n, n, line.workersCpuMs, line.workersCpuMs / n);
  std::printf("  memory while waiting: parent %ld kB, a worker %ld kB (at most %ld kB)\n",
              line.parentRssKb, line.workerRssKb, line.workerRssMaxKb);
  std::printf(
      "  while every port waited for its Box (%.2f s): parent %ld wake-ups, %d workers "
      "(%d threads) %ld wake-ups\n",
      line.idleSeconds, line.idleParent, line.workers, line.workerThreads, line.idleWorkers);
  bench::Result(key + ".wall", line.wallSeconds, "s");
  bench::Result(key + ".wall_ratio", line.wallSeconds / single.wallSeconds, "x");
  bench::Result(key + ".verified", verified, "count");
  bench::Result(key + ".records", lines, "count");
  bench::Result(key + ".records_complete", complete, "count");
  bench::Result(key + ".parent_cpu", line.parentCpuMs, "ms");
  bench::Result(key + ".parent_cpu_per_box", line.parentCpuMs / n, "ms");
  bench::Result(key + ".parent_rss", static_cast<double>(line.parentRssKb), "kB");
  bench::Result(key + ".worker_rss", static_cast<double>(line.workerRssKb), "kB");
  bench::Result(key + ".worker_rss_max", static_cast<double>(line.workerRssMaxKb), "kB");
  bench::Result(key + ".workers_cpu", line.workersCpuMs, "ms");
  bench::Result(key + ".worker_cpu", line.workersCpuMs / n, "ms");
  bench::Result(key + ".idle.seconds", line.idleSeconds, "s");
  bench::Result(key + ".idle.workers", line.workers, "count");
  bench::Result(key + ".idle.worker_threads", line.workerThreads, "count");
  bench::Result(key + ".idle.parent_wakeups", static_cast<double>(line.idleParent), "count");
  bench::Result(key + ".idle.worker_wakeups", static_cast<double>(line.idleWorkers), "count");
  if (verified == n && complete == n && lines == n && line.status == 0 && line.workers == n) {
    return true;
  }
  std::fprintf(stderr, "line%s: not every Box was erased and recorded\n%s", what.c_str(),
               ReadText(line.cli->err).c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  // The children run in directories of their own.
  auto absolute = [](const std::string& path) {
    return path.empty() ? path : std::filesystem::absolute(path).string();
  };
  const std::string boxsim = absolute(bench::Option(argc, argv, "boxsim", ""));
  const std::string cliPath = absolute(bench::Option(argc, argv, "cli", ""));
  const int n = std::stoi(bench::Option(argc, argv, "boxes", quick ? "4" : "16"));
  const int big = std::stoi(bench::Option(argc, argv, "big-boxes", quick ? "6" : "64"));
  const double idle = std::stod(bench::Option(argc, argv, "idle-seconds", quick ? "1" : "5"));
  if (boxsim.empty() || cliPath.empty() || n < 2) {
    std::fprintf(stderr,
                 "usage: bench_line --boxsim PATH --cli PATH [--boxes N>=2] [--big-boxes M]\n");
    return 2;
  }
  const bool network = !e2e::Ser2net::Program().empty();
  const std::string dir = bench::MakeTempDir("line");
  int status = 0;
  // A line of `count` Boxes on ptys and, where ser2net is, behind it; reported under `key`.
  auto measure = [&](const std::string& key, int count, const Line& single) {
    const std::string sub = dir + "/" + key;
    Line local, served;
    std::filesystem::create_directories(sub + "/local");
    if (!RunLine(boxsim, cliPath, sub + "/local", count, idle, false, local) ||
        !Report(boxsim, sub, key, "", local, single)) {
      return false;
    }
    if (network) {
      std::filesystem::create_directories(sub + "/served");
      if (!RunLine(boxsim, cliPath, sub + "/served", count, idle, true, served) ||
          !Report(boxsim, sub, key + ".net", " behind ser2net (rfc2217://)", served, single)) {
        return false;
      }
    }
    return true;
  };
  {
    Line single;
    if (!RunLine(boxsim, cliPath, dir, 1, 0, false, single)) status = 1;
    if (status == 0) {
      std::printf("one Box on its own: %.2f s from switch-on to the end (exit %d)\n",
                  single.wallSeconds, single.status);
      bench::Result("line.boxes", n, "count");
      bench::Result("line.big.boxes", big, "count");
      bench::Result("line.single.wall", single.wallSeconds, "s");
      bench::Result("line.single.cpu", single.parentCpuMs + single.workersCpuMs, "ms");
      if (single.status != 0 || !measure("line", n, single)) status = 1;
    }
    if (!network) std::printf("ser2net is not installed: no line behind a serial server\n");
    bench::Result("line.net.measured", network && status == 0 ? 1 : 0, "flag");
    if (status == 0 && big >= 2 && !measure("line.big", big, single)) status = 1;
    // The table on a terminal that holds it, and on one of 80 by 10 that does not.
    for (const auto& [key, columns, rows] :
         {std::tuple{"line.term", 160, n + 10}, std::tuple{"line.term.small", 80, 10}}) {
      if (status != 0) break;
      TerminalRun run;
      run.columns = columns;
      run.rows = rows;
      const std::string sub = dir + "/" + key;
      std::filesystem::create_directories(sub);
      if (!RunOnTerminal(boxsim, cliPath, sub, n, run) || run.status != 0) {
        std::fprintf(stderr, "line on a %dx%d terminal failed (exit %d)\n", columns, rows,
                     run.status);
        status = 1;
        break;
      }
      ReportTerminal(key, n, run);
    }
  }
  bench::RemoveTree(dir);
  return status;
}
