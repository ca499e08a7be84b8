#include "bench/ByteChain.h"

#include <thread>

namespace bench {

ByteChain::ByteChain(int master, int warmup, int samples)
    : master_(master), warmup_(warmup), total_(warmup + samples) {
  latencies_.reserve(static_cast<std::size_t>(samples));
}

void ByteChain::Start() {
  if (warmup_ == 0) meterStart_ = ProcessCost::Now();
  Send();
}

void ByteChain::Send() {
  sentAt_ = NowNs();
  WriteAllTo(master_, "a", 1);
}

void ByteChain::Arrived(std::int64_t atNs) {
  if (Done()) return;
  const int i = arrivals_.load(std::memory_order_relaxed);
  if (i >= warmup_) latencies_.push_back(atNs - sentAt_);
  if (i + 1 == total_) {
    cost_ = ProcessCost::Now() - *meterStart_;
    std::lock_guard lock(m_);
    arrivals_.store(i + 1);
    done_.store(true, std::memory_order_release);
    cv_.notify_all();
    return;
  }
  // The meter covers every sampled byte's pause, write and way to the receiver, as the raw
  // loop's does.
  if (i + 1 == warmup_) meterStart_ = ProcessCost::Now();
  arrivals_.store(i + 1);
  std::this_thread::sleep_for(kGap);
  Send();
}

bool ByteChain::WaitDone(int stallMs) {
  std::unique_lock lock(m_);
  for (;;) {
    const int seen = arrivals_.load();
    if (cv_.wait_for(lock, std::chrono::milliseconds(stallMs), [&] { return Done(); })) {
      return true;
    }
    if (arrivals_.load() == seen) return false;
  }
}

int ByteChain::BudgetMs() const {
  return 5000 + total_ * 20;
}

}  // namespace bench
