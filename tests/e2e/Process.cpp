#include "tests/e2e/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

}  // namespace

long ContextSwitches(pid_t pid) {
  std::error_code error;
  std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
  if (error) return -1;
  long total = 0;
  for (const auto& task : tasks) {
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

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Process::Process(const std::vector<std::string>& argv, const std::string& workDir,
                 const std::string& stdinText) {
  static int serial = 0;
  std::string base =
      workDir + "/.proc" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
  outPath_ = base + ".out";
  errPath_ = base + ".err";
  std::string inPath = base + ".in";
  WriteFile(inPath, stdinText);
  start_ = std::chrono::steady_clock::now();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Its own process group, so a kill reaches anything it started.
    ::setpgid(0, 0);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    int in = ::open(inPath.c_str(), O_RDONLY);
    int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
}

Process::~Process() {
  if (pid_ > 0 && !exit_) {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

std::optional<ExitInfo> Process::Wait(std::chrono::milliseconds limit) {
  if (exit_ || pid_ <= 0) return exit_;
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    rusage usage{};
    pid_t r = ::wait4(pid_, &status, WNOHANG, &usage);
    if (r == pid_) {
      ExitInfo info;
      info.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      info.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
      info.wallSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
      exit_ = info;
      return exit_;
    }
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Process::Signal(int signo) {
  if (pid_ > 0 && !exit_) ::kill(pid_, signo);
}

std::string Process::Stdout() const {
  return ReadFile(outPath_);
}
std::string Process::Stderr() const {
  return ReadFile(errPath_);
}

std::string Process::FirstLine(std::chrono::milliseconds limit) const {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::string out = Stdout();
    std::size_t nl = out.find('\n');
    if (nl != std::string::npos) return out.substr(0, nl);
    if (std::chrono::steady_clock::now() >= end) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace e2e
