// The device side of the independent latency method: the bytes come on their own, as a Box's
// do, not in answer to the receiving code. Each byte is written once the receiving code has
// seen the one before (the shared ArrivalCounter) and every thread of the receiving process has
// been asleep for the quiet time since: in /proc/<pid>/task/*/stat each is in state S at the
// start and at the end of the quiet time, and the count of its turns on a CPU (schedstat's
// third field) has not moved in between. So every byte meets a process that has settled, and
// pays for each wake-up its way to the handler takes, as a byte from an idle Box does. The
// device side sleeps the quiet time after each write before it looks for the byte's arrival,
// so that it keeps off the processors while the byte travels.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/ArrivalCounter.h"

namespace bench {

// How long every thread of the receiving process has been asleep when a byte is sent: the
// answering method's gap, so that both methods meet the receiver equally settled.
constexpr std::chrono::microseconds kQuietTime{500};

struct TaskState {
  int tid = 0;
  char state = '?';
  long runs = 0;  // times put on a CPU
};
// The threads of process pid now, by thread id; empty when it has none left.
std::vector<TaskState> TaskStates(int pid);

// True when before and after name the same threads, each asleep (S) in both and not run in
// between.
bool AsleepThroughout(const std::vector<TaskState>& before, const std::vector<TaskState>& after);

struct IndependentRun {
  std::vector<std::int64_t> sentNs;  // just before each byte's write, the warmup's included
  std::string failure;               // why the series stopped; empty when all bytes were seen
};

// Writes total bytes to master, one at a time as above, for the process pid whose receiving
// code counts them in seen. Gives up when the receiver stays busy or sees nothing for 5 s.
IndependentRun SendOnTheirOwn(int pid, int master, const ArrivalCounter& seen, int total,
                              std::chrono::microseconds quiet = kQuietTime);

}  // namespace bench
