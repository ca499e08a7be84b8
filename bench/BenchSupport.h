// What every benchmark program shares: a pseudo-terminal pair, the clock, percentiles, the
// per-thread scheduler counters of /proc, and the one output format scripts/bench.sh reads.
//
// Each program prints readable lines for a person and, for the script, lines of the form
//   RESULT <key> <value> <unit>
// Keys are stable; the script picks the ones it needs and ignores the rest.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Monotonic nanoseconds.
std::int64_t NowNs();

// Writes all of data to a non-blocking descriptor, waiting for room when it is full.
void WriteAllTo(int fd, const void* data, std::size_t size);

// Opens a tty raw and non-blocking (VMIN 1), as a raw reader would; throws when it cannot.
int OpenRawTty(const std::string& path);

// A pseudo-terminal: the master plays the device; the slave is the port the program opens.
class Pty {
 public:
  Pty();  // opens the master (non-blocking); the slave stays closed
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }
  // Opens the slave raw and non-blocking, as a raw reader would; closed with the pair.
  int OpenRawSlave();
  // Writes all of data to the master, waiting for room when the line is full.
  void WriteAll(const void* data, std::size_t size) { WriteAllTo(master_, data, size); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

struct Percentiles {
  double p50 = 0, p90 = 0, p99 = 0, min = 0, max = 0, mean = 0;
};
// Of samples in nanoseconds, returned in microseconds.
Percentiles SummariseUs(std::vector<std::int64_t> samplesNs);

// Scheduler counters of one thread of this process.
struct ThreadCounters {
  int tid = 0;
  std::string name;
  long voluntary = 0;    // context switches the thread asked for (it blocked)
  long involuntary = 0;  // preemptions
  long runs = 0;         // times it was put on a CPU (schedstat's third field)
  long long cpuNs = 0;   // time on a CPU (schedstat's first field)
};
std::vector<ThreadCounters> ReadThreadCounters();

// Wake-ups and CPU time of the whole process, threads that have ended included (getrusage). A
// wake-up is counted where a thread went to sleep (a voluntary context switch): each such
// sleep ends in one. Unlike latencies and
// throughputs, and unlike preemptions, this hardly depends on what else the machine is doing.
struct ProcessCost {
  long wakeups = 0;
  long long cpuNs = 0;
  static ProcessCost Now();
  ProcessCost operator-(const ProcessCost& earlier) const {
    return {wakeups - earlier.wakeups, cpuNs - earlier.cpuNs};
  }
  // The same of the calling thread alone (a writer that plays the device beside a peer's
  // process).
  static ProcessCost ThreadNow();
  ProcessCost operator+(const ProcessCost& more) const {
    return {wakeups + more.wakeups, cpuNs + more.cpuNs};
  }
  ProcessCost& operator+=(const ProcessCost& more) {
    wakeups += more.wakeups;
    cpuNs += more.cpuNs;
    return *this;
  }
};

// Prints why a path of a comparison has no figures: not measured here (skipped says why) or
// failed. False when it has figures.
bool SayWhyNoFigures(const std::string& label, const std::string& skipped, bool failed);

// "--quick" anywhere on the command line.
bool QuickMode(int argc, char** argv);
// The value after "--name" on the command line, or fallback.
std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback);
// "a,b,c" as its items; none for "".
std::vector<std::string> SplitList(const std::string& list);

void Result(const std::string& key, double value, const std::string& unit);

// Makes a fresh directory under /tmp and returns its path; the caller removes it.
std::string MakeTempDir(const std::string& tag);
void RemoveTree(const std::string& path);

}  // namespace bench
