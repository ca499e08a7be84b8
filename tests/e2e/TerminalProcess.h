// A child process whose standard output is a terminal (the slave of a pseudo-terminal of a
// chosen size and TERM), as when a person runs it; everything it draws is collected from the
// master by a thread of its own, so the child never blocks on a full terminal.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/Process.h"

namespace e2e {

class TerminalProcess {
 public:
  // term: the child's TERM (empty: left out of its environment).
  TerminalProcess(const std::vector<std::string>& argv, const std::string& workDir, int columns,
                  int rows, const std::string& term = "xterm");
  ~TerminalProcess();
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // What the child wrote to the terminal so far.
  std::string Screen() const;
  std::string Stderr() const;
  // Waits up to `limit`; empty when the child still runs.
  std::optional<ExitInfo> Wait(std::chrono::milliseconds limit);
  void Signal(int signo);
  // The terminal takes a new size, and the child is told (SIGWINCH), as a window resized would.
  void Resize(int columns, int rows);

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string errPath_;
  std::chrono::steady_clock::time_point start_;
  std::optional<ExitInfo> exit_;
  mutable std::mutex mutex_;
  std::string screen_;
  std::atomic<bool> stop_{false};
  std::atomic<int> drained_{0};
  std::thread reader_;
};

}  // namespace e2e
