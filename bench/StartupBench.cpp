// Start-up to the first shown window under Qt (offscreen platform), and the resident memory at
// that moment. The parent starts this same program again as the window process and times it
// from fork to the report the child sends once its loop has run after showing the window.
//
// This file is a program entry: like the Qt program's own entry it may create the QApplication.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainWindowRun.h"
#include "bench/BenchSupport.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"

namespace {

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return 0;
}

// Reports once the loop runs after the window was shown: by then the show and its first
// paint, queued before the report, have been handled.
class ReportingBackend : public gui::qt::QtBackend {
 public:
  explicit ReportingBackend(int fd) : fd_(fd) {}
  void Show(gui::Form& form) override {
    gui::qt::QtBackend::Show(form);
    rt::Post([this, &form] {
      const std::int64_t shown = bench::NowNs();
      const long rss = StatusKb("VmRSS:"), hwm = StatusKb("VmHWM:");
      const std::string report =
          std::to_string(shown) + " " + std::to_string(rss) + " " + std::to_string(hwm) + "\n";
      if (write(fd_, report.data(), report.size()) < 0) std::perror("report");
      form.Close();
    });
  }

 private:
  int fd_;
};

int Child(int argc, char** argv, int fd) {
  rt::MarkMainThread();
  QApplication qtApp(argc, argv);
  ReportingBackend backend(fd);
  return RunMainWindow(backend);
}

struct Start {
  bool ok = false;
  double shownMs = 0, exitMs = 0;
  long rssKb = 0, hwmKb = 0;
};

Start OneStart(const std::string& dir) {
  int report[2];
  if (pipe(report) != 0) return {};
  const std::int64_t t0 = bench::NowNs();
  const pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string fd = std::to_string(report[1]);
    execl("/proc/self/exe", "zw-startup-bench", "--child", fd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(report[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(report[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::int64_t t1 = bench::NowNs();
  Start s;
  std::int64_t shown = 0;
  std::istringstream in(text);
  if (!(in >> shown >> s.rssKb >> s.hwmKb)) return s;
  s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  s.shownMs = static_cast<double>(shown - t0) / 1e6;
  s.exitMs = static_cast<double>(t1 - t0) / 1e6;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
    int childArgc = 1;
    return Child(childArgc, argv, std::atoi(argv[2]));
  }
  const bool quick = bench::QuickMode(argc, argv);
  const int runs = quick ? 1 : std::stoi(bench::Option(argc, argv, "runs", "10"));
  const std::string dir = bench::MakeTempDir("startup");
  std::vector<double> shown, rss, hwm;
  int failures = 0;
  OneStart(dir);  // the first start warms the page cache; a technician's second start is warm too
  for (int i = 0; i < runs; ++i) {
    const Start s = OneStart(dir);
    if (!s.ok) {
      ++failures;
      continue;
    }
    std::printf(
        "start %d: window shown after %.1f ms (process ended after %.1f ms), RSS %ld kB, "
        "peak %ld kB\n",
        i + 1, s.shownMs, s.exitMs, s.rssKb, s.hwmKb);
    shown.push_back(s.shownMs);
    rss.push_back(static_cast<double>(s.rssKb));
    hwm.push_back(static_cast<double>(s.hwmKb));
  }
  bench::RemoveTree(dir);
  if (shown.empty()) {
    std::fprintf(stderr, "startup: no start reported a shown window\n");
    return 1;
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("median of %zu starts: window shown after %.1f ms, RSS %.0f kB\n", shown.size(),
              median(shown), median(rss));
  bench::Result("startup.runs", static_cast<double>(shown.size()), "count");
  bench::Result("startup.shown", median(shown), "ms");
  bench::Result("startup.shown.min", *std::min_element(shown.begin(), shown.end()), "ms");
  bench::Result("startup.rss", median(rss), "kB");
  bench::Result("startup.rss_peak", median(hwm), "kB");
  return failures == 0 ? 0 : 1;
}
