// Tool overhead on a whole erase: the window's own handlers on the headless loop (real clock)
// against boxsim with no device delays, clicked through as the command-line autopilot does:
// "Open COM", the Box switched on at once (SIGUSR1, as the technician does after the click),
// "Erase users data" as soon as it is offered, until the range has been read back and the port
// has closed on its own.
//
// The run is built on three timer periods: the wake-up timer ticks twice (the first tick sends
// the line feed that stops the boot, the next one finds the prompt and offers the erase), and
// the completion timer waits once. Everything else is overhead:
//
//   overhead = total - 2 x 700 ms - 1500 ms
//            = open click + Box's first answer + timer lateness + ready-to-click
//              + erase round trip + read-back + closing
//
// The read-back is the tool's crc32 command out and the console's answer and prompt back: with
// boxsim --fast that is the tool's own cost plus boxsim computing the CRC of the range, which is
// the Box's time, not the tool's: boxsim's log says when it started and ended the crc32 (to the
// millisecond), and that is taken out of the tool's overhead.
//
// boxsim is switched by signal rather than by the open: switched on by the open itself, it can
// answer before the port watches for events, and a Box does not do that (the technician
// switches it on after the port is open).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ModuleState.h"
#include "app/Unit1.h"
#include "bench/BenchSupport.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"

namespace {

constexpr double kWakePeriodMs = 700, kCompletionMs = 1500;

struct Boxsim {
  pid_t pid = -1;
  std::string device;
};

// log: where boxsim's own log (-v) goes.
Boxsim StartBoxsim(const std::string& path, const std::string& log) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe");
  Boxsim box;
  box.pid = fork();
  if (box.pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    execl(path.c_str(), path.c_str(), "--fast", "--wait-signal", "-v", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') box.device += c;
  close(out[0]);
  if (box.device.empty()) throw std::runtime_error("boxsim did not start: " + path);
  return box;
}

void StopBoxsim(const Boxsim& box) {
  kill(box.pid, SIGTERM);
  waitpid(box.pid, nullptr, 0);
}

// How long boxsim took for the last crc32 its log shows: from "running \"crc32 ..." to
// "crc32 of ...", by the log's millisecond stamps; 0 when the log shows none.
double LastCrcMs(const std::string& log) {
  std::ifstream in(log);
  long started = -1, took = 0;
  for (std::string line; std::getline(in, line);) {
    long ms = 0;
    char what[64] = {};
    if (std::sscanf(line.c_str(), "boxsim [ %ld ms] %63[^\n]", &ms, what) != 2) continue;
    const std::string text = what;
    if (text.rfind("running \"crc32", 0) == 0) started = ms;
    if (text.rfind("crc32 of ", 0) == 0 && started >= 0) took = ms - started;
  }
  return static_cast<double>(took);
}

double Ms(std::int64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

struct Phases {
  bool ok = false;
  int wakeTicks = 0;
  double total = 0, open = 0, boxAnswer = 0, lateness = 0, readyToClick = 0, eraseRoundTrip = 0,
         readBack = 0, boxCrc = 0, closing = 0;
  double Overhead() const { return total - wakeTicks * kWakePeriodMs - kCompletionMs; }
  double ToolOverhead() const { return Overhead() - boxCrc; }
};

Phases OneErase(gui::headless::HeadlessBackend& backend, const Boxsim& box,
                const std::string& log) {
  Phases p;
  TForm1 form;
  backend.CreatePeers(form);
  backend.Show(form);

  std::int64_t firstRx = 0, eraseDone = 0, promptBack = 0, completionTick = 0, closed = 0;
  std::vector<std::int64_t> wakeTicks;
  auto rx = form.Cx1.OnRxChar;
  form.Cx1.OnRxChar = [&, rx](TObject* s, int count) {
    if (firstRx == 0) firstRx = bench::NowNs();
    const bool completionBefore = form.Timer2.Enabled();
    const bool erasingBefore = app::Stage == app::EraseStage::Erasing;
    rx(s, count);
    if (erasingBefore && app::Stage != app::EraseStage::Erasing) eraseDone = bench::NowNs();
    if (!completionBefore && form.Timer2.Enabled()) promptBack = bench::NowNs();
  };
  auto tick1 = form.Timer1.OnTimer;
  form.Timer1.OnTimer = [&, tick1](TObject* s) {
    wakeTicks.push_back(bench::NowNs());
    tick1(s);
  };
  auto tick2 = form.Timer2.OnTimer;
  form.Timer2.OnTimer = [&, tick2](TObject* s) {
    completionTick = bench::NowNs();
    tick2(s);
    if (!form.Cx1.Connected()) closed = bench::NowNs();
  };

  const std::int64_t t0 = bench::NowNs();
  form.cmdOpen.UserClick();
  const std::int64_t opened = bench::NowNs();
  if (!form.Cx1.Connected()) return p;
  kill(box.pid, SIGUSR1);  // "switch Box to Power ON"
  const bool ready = backend.RunUntil(
      [&] { return form.cmdErase.Enabled() && form.sBar.PanelText() == "Receiver connected"; },
      20000);
  if (!ready) return p;
  const std::int64_t readyAt = bench::NowNs();
  form.cmdErase.UserClick();
  if (!backend.RunUntil([&] { return closed != 0; }, 20000)) return p;
  if (form.Label1.Caption() != "COMPLETE" || wakeTicks.size() < 2 || eraseDone == 0) return p;

  p.ok = true;
  p.wakeTicks = static_cast<int>(wakeTicks.size());
  p.total = Ms(closed - t0);
  p.open = Ms(opened - t0);
  p.boxAnswer = Ms(firstRx - opened);
  p.lateness = Ms(wakeTicks.back() - firstRx) - p.wakeTicks * kWakePeriodMs +
               Ms(completionTick - promptBack) - kCompletionMs;
  // From the tick that offers the erase until the loop has handed control back to the clicker.
  p.readyToClick = Ms(readyAt - wakeTicks.back());
  p.eraseRoundTrip = Ms(eraseDone - readyAt);
  p.readBack = Ms(promptBack - eraseDone);
  p.closing = Ms(closed - completionTick);
  p.boxCrc = LastCrcMs(log);
  form.RequestClose();
  backend.ProcessMessages();
  return p;
}

// "Switch Box to Power OFF"; the pause keeps the next run's SIGUSR1 from arriving together
// with this one, when the lower-numbered signal would be taken first.
void SwitchOff(const Boxsim& box) {
  kill(box.pid, SIGUSR2);
  usleep(100 * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const std::string boxsimPath = bench::Option(argc, argv, "boxsim", "");
  if (boxsimPath.empty()) {
    std::fprintf(stderr, "usage: %s --boxsim PATH [--runs N] [--boxsim-log FILE] [--quick]\n",
                 argv[0]);
    return 2;
  }
  const int runs = quick ? 1 : std::stoi(bench::Option(argc, argv, "runs", "5"));

  const std::string dir = bench::MakeTempDir("erase");
  const std::string home = std::filesystem::current_path().string();
  const std::string log = bench::Option(argc, argv, "boxsim-log", dir + "/boxsim.log");
  const Boxsim box = StartBoxsim(boxsimPath, log);
  {
    std::ofstream ini(dir + "/Zanowipe.ini");
    ini << "[APP]\nCOM PORT=1\n[PORTS]\nCOM1=" << box.device << "\n";
  }
  std::filesystem::current_path(dir);

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  std::vector<Phases> all;
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    const Phases p = OneErase(backend, box, log);
    SwitchOff(box);
    if (!p.ok) {
      ++failures;
      std::fprintf(stderr, "erase run %d did not complete\n", i + 1);
      continue;
    }
    all.push_back(p);
    std::printf(
        "run %d: total %.1f ms, %d wake ticks; overhead %.2f ms = open %.2f + Box answers %.2f "
        "+ timer lateness %.2f + ready-to-click %.2f + erase round trip %.2f + read-back %.2f "
        "(of which the Box computing its CRC %.2f) + closing %.2f\n",
        i + 1, p.total, p.wakeTicks, p.Overhead(), p.open, p.boxAnswer, p.lateness, p.readyToClick,
        p.eraseRoundTrip, p.readBack, p.boxCrc, p.closing);
  }
  gui::App().SetBackend(nullptr);
  std::filesystem::current_path(home);
  StopBoxsim(box);
  bench::RemoveTree(dir);
  if (all.empty()) return 1;

  // The run with the median overhead, reported whole so that its parts add up.
  std::vector<Phases> byOverhead = all;
  std::sort(byOverhead.begin(), byOverhead.end(),
            [](const Phases& a, const Phases& b) { return a.Overhead() < b.Overhead(); });
  const Phases& m = byOverhead[byOverhead.size() / 2];
  std::printf("median run of %zu: total %.1f ms, overhead %.2f ms\n", all.size(), m.total,
              m.Overhead());
  bench::Result("erase.runs", static_cast<double>(all.size()), "count");
  bench::Result("erase.total", m.total, "ms");
  bench::Result("erase.timers", m.wakeTicks * kWakePeriodMs + kCompletionMs, "ms");
  bench::Result("erase.overhead", m.Overhead(), "ms");
  bench::Result("erase.overhead.min", byOverhead.front().Overhead(), "ms");
  bench::Result("erase.overhead.max", byOverhead.back().Overhead(), "ms");
  bench::Result("erase.open", m.open, "ms");
  bench::Result("erase.box_answers", m.boxAnswer, "ms");
  bench::Result("erase.timer_lateness", m.lateness, "ms");
  bench::Result("erase.ready_to_click", m.readyToClick, "ms");
  bench::Result("erase.erase_round_trip", m.eraseRoundTrip, "ms");
  bench::Result("erase.read_back", m.readBack, "ms");
  bench::Result("erase.box_crc", m.boxCrc, "ms");
  bench::Result("erase.tool_overhead", m.ToolOverhead(), "ms");
  bench::Result("erase.closing", m.closing, "ms");
  return failures == 0 ? 0 : 1;
}
