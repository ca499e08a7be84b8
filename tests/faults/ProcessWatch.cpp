#include "tests/faults/ProcessWatch.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace faults {
namespace {

int CountEntries(const char* path) {
  DIR* d = opendir(path);
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n - (std::string(path) == "/proc/self/fd" ? 1 : 0);  // the DIR's own descriptor
}

}  // namespace

Resources Snapshot() {
  // A sanitizer starts a helper thread of its own when the process makes its first thread and
  // keeps it for good; making one here first keeps it out of every comparison.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  Resources r;
  r.fds = CountEntries("/proc/self/fd");
  r.threads = CountEntries("/proc/self/task");
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  r.rssKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
  return r;
}

std::string Describe(const Resources& r) {
  return std::to_string(r.fds) + " fds, " + std::to_string(r.threads) + " threads, " +
         std::to_string(r.rssKb) + " kB resident";
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool ThreadsBackTo(int threads, std::chrono::milliseconds limit) {
  return WaitUntil([threads] { return Snapshot().threads <= threads; }, limit);
}

}  // namespace faults
