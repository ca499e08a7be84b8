// Child processes for the end-to-end tests: started in a chosen directory with their output
// in files, waited for with a time limit, and never left behind: a Process that is destroyed
// while its child still runs kills it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScratchDir.h"

namespace e2e {

struct ExitInfo {
  int status = -1;         // exit status, or 128 + signal
  double cpuSeconds = 0;   // user + system time the child used
  double wallSeconds = 0;  // from start to exit
};

class Process {
 public:
  // stdinText: what the child reads on standard input (then end of file).
  Process(const std::vector<std::string>& argv, const std::string& workDir,
          const std::string& stdinText = "");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Pid() const { return pid_; }
  // Waits up to `limit`; empty when the child still runs.
  std::optional<ExitInfo> Wait(std::chrono::milliseconds limit);
  void Signal(int signo);
  // Everything the child wrote so far.
  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until standard output holds a complete first line and returns it (empty on timeout).
  std::string FirstLine(std::chrono::milliseconds limit) const;

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
  std::chrono::steady_clock::time_point start_;
  std::optional<ExitInfo> exit_;
};

using ScratchDir = testsupport::ScratchDir;

// Context switches, voluntary and not, of every thread a process has now; -1 when it has gone.
long ContextSwitches(pid_t pid);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace e2e
