#include "tests/pty/PtyPair.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ptytest {

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal available");
  }
  slavePath_ = ptsname(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  CloseMaster();
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 2000) <= 0) throw std::runtime_error("master write stuck");
    }
  }
}

void PtyPair::Send(const std::string& text) {
  Send(Bytes(text));
}

std::vector<std::uint8_t> PtyPair::Receive(std::size_t atLeast, std::chrono::milliseconds window) {
  std::vector<std::uint8_t> got;
  const auto end = std::chrono::steady_clock::now() + window;
  while (got.size() < atLeast) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    std::uint8_t buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  return got;
}

drv::Handle OpenPort(const std::string& path) {
  return drv::DefaultCommDriver().CreateFileA(path.c_str(), drv::kGenericRead | drv::kGenericWrite,
                                              0, drv::kOpenExisting, drv::kFileFlagOverlapped);
}

drv::Dcb ToolDcb() {
  drv::Dcb dcb;
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = drv::kFBinary | drv::kFNull;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.Parity = drv::kNoParity;
  dcb.StopBits = drv::kOneStopBit;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

drv::CommTimeouts Timeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant,
                           std::uint32_t writeMultiplier, std::uint32_t writeConstant) {
  drv::CommTimeouts t;
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  t.WriteTotalTimeoutMultiplier = writeMultiplier;
  t.WriteTotalTimeoutConstant = writeConstant;
  return t;
}

namespace {

std::string TaskDirOf(const std::string& threadName) {
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return {};
  std::string found;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    std::ifstream comm(base + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name == threadName) found = base;
  }
  closedir(dir);
  return found;
}

}  // namespace

long ContextSwitchesOfThread(const std::string& threadName) {
  const std::string dir = TaskDirOf(threadName);
  if (dir.empty()) return -1;
  std::ifstream status(dir + "/status");
  std::string line;
  long total = 0;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
        line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      total += std::stol(line.substr(line.find(':') + 1));
    }
  }
  return total;
}

long SettledContextSwitchesOfThread(const std::string& threadName) {
  const std::string dir = TaskDirOf(threadName);
  if (dir.empty()) return -1;
  const auto asleep = [&] {
    std::ifstream stat(dir + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = all.rfind(')');
    return close != std::string::npos && close + 2 < all.size() && all[close + 2] == 'S';
  };
  // A thread just made, or just done with the test's set-up, still has switches on the way
  // in (its start, a contended mutex, a preemption); a count taken then would charge them to
  // what the test measures next.
  long last = ContextSwitchesOfThread(threadName);
  for (int i = 0; i < 250; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long now = ContextSwitchesOfThread(threadName);
    if (now == last && asleep()) return now;
    last = now;
  }
  return last;
}

long CpuMillisecondsOfThread(const std::string& threadName) {
  const std::string dir = TaskDirOf(threadName);
  if (dir.empty()) return -1;
  std::ifstream stat(dir + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
  std::istringstream rest(all.substr(all.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

std::string EngineThreadName(drv::Handle h) {
  return "zwtty-" + std::to_string(h);
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace ptytest
