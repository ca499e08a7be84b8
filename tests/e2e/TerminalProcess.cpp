#include "tests/e2e/TerminalProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace e2e {

TerminalProcess::TerminalProcess(const std::vector<std::string>& argv, const std::string& workDir,
                                 int columns, int rows, const std::string& term) {
  static int serial = 0;
  errPath_ =
      workDir + "/.term" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".err";
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
  const std::string slave = ::ptsname(master_);
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ::ioctl(master_, TIOCSWINSZ, &size);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // What the child makes of the terminal does not depend on where the tests run. Made before
  // fork(): the child may only call exec then.
  std::vector<std::string> vars;
  for (char** v = environ; *v != nullptr; ++v) {
    if (std::string_view(*v).rfind("TERM=", 0) != 0) vars.emplace_back(*v);
  }
  if (!term.empty()) vars.push_back("TERM=" + term);
  std::vector<char*> env;
  for (std::string& v : vars) env.push_back(v.data());
  env.push_back(nullptr);
  start_ = std::chrono::steady_clock::now();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Its own process group, so a kill reaches the workers it starts as well.
    ::setpgid(0, 0);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    // Line feeds reach the screen as they were written.
    termios mode{};
    if (::tcgetattr(out, &mode) == 0) {
      mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      ::tcsetattr(out, TCSANOW, &mode);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
  }
  reader_ = std::thread([this] {
    char buffer[4096];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        // EIO: nobody has the slave open (yet, or any more); everything written has been read.
        ++drained_;
        ::usleep(20000);
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      screen_.append(buffer, static_cast<std::size_t>(n));
    }
  });
}

TerminalProcess::~TerminalProcess() {
  if (pid_ > 0 && !exit_) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (master_ >= 0) ::close(master_);
}

std::string TerminalProcess::Screen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return screen_;
}

std::string TerminalProcess::Stderr() const {
  return ReadFile(errPath_);
}

std::optional<ExitInfo> TerminalProcess::Wait(std::chrono::milliseconds limit) {
  if (exit_ || pid_ <= 0) return exit_;
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
      ExitInfo info;
      info.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      info.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      info.wallSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      exit_ = info;
      // What was drawn last is read before the caller looks: the master reports EIO once the
      // last writer has gone and its output has been read.
      const int seen = drained_;
      const auto drainEnd = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (drained_ == seen && std::chrono::steady_clock::now() < drainEnd) ::usleep(10000);
      return exit_;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    ::usleep(10000);
  }
}

void TerminalProcess::Signal(int signo) {
  if (pid_ > 0 && !exit_) ::kill(pid_, signo);
}

void TerminalProcess::Resize(int columns, int rows) {
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ::ioctl(master_, TIOCSWINSZ, &size);
  // The terminal is not the child's controlling terminal, so the kernel tells nobody.
  Signal(SIGWINCH);
}

}  // namespace e2e
