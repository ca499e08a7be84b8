// The latency method every path shares, the tool's own pattern: the code that receives byte i
// (a handler, a slot, the return of a read) sleeps the gap and writes byte i + 1 to the pty's
// master itself, as the tool answers the Box from OnRxChar. A sample is the time from just
// before the write of a byte to its arrival in the receiving code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "bench/BenchSupport.h"

namespace bench {

class ByteChain {
 public:
  static constexpr std::chrono::microseconds kGap{500};

  // master: the pty's master, written by the receiving code. warmup bytes go first and are
  // not sampled.
  ByteChain(int master, int warmup, int samples);

  // Writes the first byte; called once, by whoever starts the series.
  void Start();
  // The receiving code calls this with the time a byte reached it; unless the series is over,
  // it sleeps the gap and writes the next byte on the caller's thread.
  void Arrived(std::int64_t atNs);

  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Blocks until the series is over or no byte has arrived for stallMs; returns Done().
  bool WaitDone(int stallMs = 5000);
  // A bound for a loop that can only wait with a time-out of its own.
  int BudgetMs() const;

  // After Done(): the sampled latencies and what the whole process spent on them.
  const std::vector<std::int64_t>& LatenciesNs() const { return latencies_; }
  ProcessCost Cost() const { return cost_; }
  int Arrivals() const { return arrivals_.load(); }

 private:
  void Send();

  int master_;
  int warmup_;
  int total_;
  std::int64_t sentAt_ = 0;
  std::vector<std::int64_t> latencies_;
  std::optional<ProcessCost> meterStart_;
  ProcessCost cost_;
  std::atomic<int> arrivals_{0};
  std::atomic<bool> done_{false};
  std::mutex m_;
  std::condition_variable cv_;
};

}  // namespace bench
