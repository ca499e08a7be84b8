// What a fault may leave behind, read from /proc: descriptors, threads, resident memory and
// CPU time of this process. Tests take a snapshot before a case and compare after it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace faults {

struct Resources {
  int fds = 0;
  int threads = 0;
  long rssKb = 0;
};

Resources Snapshot();
std::string Describe(const Resources& r);
// User + system CPU time of the whole process so far.
double ProcessCpuSeconds();
// Highest resident set so far (kB).
long PeakRssKb();

// Polls pred every few milliseconds on the real clock until it holds or limit passes.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit);

// Threads come and go a moment after a close returns (a joined thread's task entry may linger
// briefly): waits up to a generous bound for the count to come back to `threads`.
bool ThreadsBackTo(int threads, std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace faults
