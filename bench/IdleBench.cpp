// Idle cost: the tool's window (on the headless loop) with its port open on a silent device,
// "Awaiting device" as the technician sees it before switching the Box on. Over the window,
// how often each thread of the process was woken and switched, from /proc/self/task/*.
//
// The measuring thread is the main thread itself: it reads the counters, sleeps in the loop for
// the whole window, and reads them again, so the measurement adds one wake-up of its own (the
// end of the window) and nothing else.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "app/Unit1.h"
#include "bench/BenchSupport.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"

namespace {

const char* const kAwaiting = "COM Port opened, switch Box to Power ON";

std::set<int> Tids() {
  std::set<int> tids;
  for (const auto& t : bench::ReadThreadCounters()) tids.insert(t.tid);
  return tids;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const double seconds = quick ? 1.0 : std::stod(bench::Option(argc, argv, "seconds", "10"));

  const std::string dir = bench::MakeTempDir("idle");
  const std::string home = std::filesystem::current_path().string();
  bench::Pty pty;  // the Box's end of the cable, open and silent
  {
    std::ofstream ini(dir + "/Zanowipe.ini");
    ini << "[APP]\nCOM PORT=1\n[PORTS]\nCOM1=" << pty.SlavePath() << "\n";
  }
  std::filesystem::current_path(dir);

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  int status = 0;
  {
    TForm1 form;
    backend.CreatePeers(form);
    backend.Show(form);
    const std::set<int> beforeOpen = Tids();
    form.cmdOpen.UserClick();
    backend.ProcessMessages();
    if (!form.Cx1.Connected() || form.sBar.PanelText() != kAwaiting) {
      std::fprintf(stderr, "idle: the port did not open (status: %s)\n",
                   form.sBar.PanelText().c_str());
      status = 1;
    }
    backend.AdvanceBy(200);  // let the threads reach their waits

    const auto before = bench::ReadThreadCounters();
    const std::int64_t t0 = bench::NowNs();
    backend.AdvanceBy(static_cast<std::int64_t>(seconds * 1000));
    const std::int64_t t1 = bench::NowNs();
    const auto after = bench::ReadThreadCounters();
    const double window = static_cast<double>(t1 - t0) / 1e9;

    std::map<int, bench::ThreadCounters> start;
    for (const auto& t : before) start[t.tid] = t;
    std::printf("idle with the port open (\"%s\") for %.2f s\n", kAwaiting, window);
    std::printf("%-8s %-16s %-8s %10s %12s %12s %10s\n", "tid", "name", "role", "wake-ups",
                "wake-ups/s", "switches/s", "cpu us");
    long serialWakeups = 0, serialSwitches = 0, mainWakeups = 0, otherWakeups = 0;
    int serialThreads = 0;
    for (const auto& a : after) {
      auto it = start.find(a.tid);
      if (it == start.end()) continue;  // born during the window: there is none to expect
      const auto& b = it->second;
      const long wakeups = a.runs - b.runs;
      const long switches = (a.voluntary - b.voluntary) + (a.involuntary - b.involuntary);
      const bool isMain = a.tid == getpid();
      const bool isSerial = !isMain && beforeOpen.count(a.tid) == 0;
      const char* role = isMain ? "main" : isSerial ? "serial" : "other";
      std::printf("%-8d %-16s %-8s %10ld %12.2f %12.2f %10.1f\n", a.tid, a.name.c_str(), role,
                  wakeups, static_cast<double>(wakeups) / window,
                  static_cast<double>(switches) / window,
                  static_cast<double>(a.cpuNs - b.cpuNs) / 1000.0);
      if (isMain) {
        mainWakeups += wakeups;
      } else if (isSerial) {
        ++serialThreads;
        serialWakeups += wakeups;
        serialSwitches += switches;
      } else {
        otherWakeups += wakeups;
      }
    }
    bench::Result("idle.seconds", window, "s");
    bench::Result("idle.serial.threads", serialThreads, "count");
    bench::Result("idle.serial.wakeups", static_cast<double>(serialWakeups), "count");
    bench::Result("idle.serial.wakeups_per_s", static_cast<double>(serialWakeups) / window, "1/s");
    bench::Result("idle.serial.switches_per_s", static_cast<double>(serialSwitches) / window,
                  "1/s");
    bench::Result("idle.main.wakeups", static_cast<double>(mainWakeups), "count");
    bench::Result("idle.main.wakeups_per_s", static_cast<double>(mainWakeups) / window, "1/s");
    bench::Result("idle.other.wakeups", static_cast<double>(otherWakeups), "count");
    if (serialThreads == 0) {
      std::fprintf(stderr, "idle: no thread of the serial path was found\n");
      status = 1;
    }
    form.RequestClose();
    backend.ProcessMessages();
  }
  gui::App().SetBackend(nullptr);
  std::filesystem::current_path(home);
  bench::RemoveTree(dir);
  return status;
}
