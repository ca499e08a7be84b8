#include "bench/LatencySeries.h"

namespace bench {

LatencySeries::LatencySeries(int warmup, int samples) : warmup_(warmup), total_(warmup + samples) {
  samples_.reserve(static_cast<std::size_t>(samples));
}

void LatencySeries::StartMeterIfNoWarmup() {
  if (warmup_ == 0) meterStart_ = ProcessCost::Now();
}

void LatencySeries::Arrived(std::int64_t atNs) {
  if (Done()) return;
  const int i = arrivals_.load(std::memory_order_relaxed);
  if (i >= warmup_) samples_.push_back(Sample(atNs));
  if (i + 1 == total_) {
    cost_ = ProcessCost::Now() - *meterStart_;
    {
      std::lock_guard lock(m_);
      arrivals_.store(i + 1);
      done_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
    Next(i + 1);
    return;
  }
  // The meter starts in the handling of the last warmup byte and stops in that of the last
  // sampled one, so it covers as many whole rounds of handling as there are samples.
  if (i + 1 == warmup_) meterStart_ = ProcessCost::Now();
  arrivals_.store(i + 1);
  Next(i + 1);
}

bool LatencySeries::WaitDone(int stallMs) {
  std::unique_lock lock(m_);
  for (;;) {
    const int seen = arrivals_.load();
    if (cv_.wait_for(lock, std::chrono::milliseconds(stallMs), [&] { return Done(); })) {
      return true;
    }
    if (arrivals_.load() == seen) return false;
  }
}

int LatencySeries::BudgetMs() const {
  return 5000 + total_ * 20;
}

}  // namespace bench
