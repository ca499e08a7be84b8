// A latency series as the code that receives the bytes sees it, whichever way the bytes come:
// answered by the receiving code itself (ByteChain.h) or sent by the device side on its own
// (ArrivalLog.h). The receiving code (a handler, a slot, the return of a read) calls Start once
// it is in place and Arrived with the time each byte reached it; the series counts warmup bytes
// that are not sampled, then the sampled ones, and meters what the whole process spent on them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "bench/BenchSupport.h"

namespace bench {

class LatencySeries {
 public:
  LatencySeries(int warmup, int samples);
  virtual ~LatencySeries() = default;
  LatencySeries(const LatencySeries&) = delete;
  LatencySeries& operator=(const LatencySeries&) = delete;

  // The receiving code is in place; called once, by whoever starts the series.
  virtual void Start() = 0;
  // The receiving code calls this with the time a byte reached it.
  void Arrived(std::int64_t atNs);

  bool Done() const { return done_.load(std::memory_order_acquire); }
  // Blocks until the series is over or no byte has arrived for stallMs; returns Done().
  bool WaitDone(int stallMs = 5000);
  // A bound for a loop that can only wait with a time-out of its own.
  int BudgetMs() const;

  // After Done(): one figure a sampled byte (Sample says which) and what the whole process
  // spent from the end of the warmup to the last byte.
  const std::vector<std::int64_t>& Samples() const { return samples_; }
  ProcessCost Cost() const { return cost_; }
  int Arrivals() const { return arrivals_.load(); }

 protected:
  // What is kept of a sampled byte that reached the receiving code at atNs.
  virtual std::int64_t Sample(std::int64_t atNs) const = 0;
  // After the arrival of byte number `arrivals` (counting from 1) was counted, on the
  // receiving thread; after the last one too, with Done() true.
  virtual void Next(int arrivals) = 0;
  // Once the meter runs: warmup 0 starts it here.
  void StartMeterIfNoWarmup();

 private:
  int warmup_;
  int total_;
  std::vector<std::int64_t> samples_;
  std::optional<ProcessCost> meterStart_;
  ProcessCost cost_;
  std::atomic<int> arrivals_{0};
  std::atomic<bool> done_{false};
  std::mutex m_;
  std::condition_variable cv_;
};

}  // namespace bench
