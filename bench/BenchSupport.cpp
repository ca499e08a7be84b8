#include "bench/BenchSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <stdexcept>

namespace bench {

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
  }
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) {
    throw std::runtime_error(std::string("ptsname_r: ") + std::strerror(errno));
  }
  slavePath_ = name;
  // The master side echoes nothing back and passes bytes through untouched.
  termios t{};
  if (tcgetattr(master_, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
  }
}

Pty::~Pty() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

int OpenRawTty(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

int Pty::OpenRawSlave() {
  slave_ = OpenRawTty(slavePath_);
  return slave_;
}

void WriteAllTo(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n > 0) {
      p += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      throw std::runtime_error(std::string("write to the pty master: ") + std::strerror(errno));
    }
    pollfd pfd{fd, POLLOUT, 0};
    poll(&pfd, 1, 1000);
  }
}

Percentiles SummariseUs(std::vector<std::int64_t> samplesNs) {
  Percentiles p;
  if (samplesNs.empty()) return p;
  std::sort(samplesNs.begin(), samplesNs.end());
  auto at = [&](double q) {
    const std::size_t i = std::min(
        samplesNs.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samplesNs.size())));
    return static_cast<double>(samplesNs[i]) / 1000.0;
  };
  p.p50 = at(0.50);
  p.p90 = at(0.90);
  p.p99 = at(0.99);
  p.min = static_cast<double>(samplesNs.front()) / 1000.0;
  p.max = static_cast<double>(samplesNs.back()) / 1000.0;
  p.mean = std::accumulate(samplesNs.begin(), samplesNs.end(), 0.0) /
           static_cast<double>(samplesNs.size()) / 1000.0;
  return p;
}

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

long StatusField(const std::string& status, const std::string& key) {
  const auto at = status.find(key + ":");
  if (at == std::string::npos) return 0;
  return std::strtol(status.c_str() + at + key.size() + 1, nullptr, 10);
}

}  // namespace

std::vector<ThreadCounters> ReadThreadCounters() {
  std::vector<ThreadCounters> threads;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return threads;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + entry->d_name;
    ThreadCounters c;
    c.tid = std::atoi(entry->d_name);
    c.name = Slurp(base + "/comm");
    while (!c.name.empty() && c.name.back() == '\n') c.name.pop_back();
    const std::string status = Slurp(base + "/status");
    c.voluntary = StatusField(status, "voluntary_ctxt_switches");
    c.involuntary = StatusField(status, "nonvoluntary_ctxt_switches");
    std::istringstream sched(Slurp(base + "/schedstat"));
    long long waitNs = 0;
    sched >> c.cpuNs >> waitNs >> c.runs;
    threads.push_back(c);
  }
  closedir(dir);
  std::sort(threads.begin(), threads.end(),
            [](const ThreadCounters& a, const ThreadCounters& b) { return a.tid < b.tid; });
  return threads;
}

namespace {

ProcessCost CostOf(int who) {
  rusage usage{};
  getrusage(who, &usage);
  ProcessCost c;
  c.wakeups = usage.ru_nvcsw;
  c.cpuNs = (static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000 +
            (static_cast<long long>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
  return c;
}

}  // namespace

ProcessCost ProcessCost::Now() {
  return CostOf(RUSAGE_SELF);
}

ProcessCost ProcessCost::ThreadNow() {
  return CostOf(RUSAGE_THREAD);
}

bool SayWhyNoFigures(const std::string& label, const std::string& skipped, bool failed) {
  if (!skipped.empty()) {
    std::printf("%-36s not measured: %s\n", label.c_str(), skipped.c_str());
  } else if (failed) {
    std::printf("%-36s FAILED (see above)\n", label.c_str());
  }
  return !skipped.empty() || failed;
}

bool QuickMode(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) return true;
  }
  return false;
}

std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == "--" + name) return argv[i + 1];
  }
  return fallback;
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t from = 0;
  while (from < list.size()) {
    const std::size_t comma = std::min(list.find(',', from), list.size());
    items.push_back(list.substr(from, comma - from));
    from = comma + 1;
  }
  return items;
}

void Result(const std::string& key, double value, const std::string& unit) {
  std::printf("RESULT %s %.10g %s\n", key.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

std::string MakeTempDir(const std::string& tag) {
  std::string pattern = "/tmp/zw-bench-" + tag + ".XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace bench
