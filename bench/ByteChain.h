// The latency method of the receiver answering, the tool's pattern when it answers the Box: the
// code that receives byte i (a handler, a slot, the return of a read) sleeps the gap and writes
// byte i + 1 to the pty's master itself. A sample is the time from just before the write of a
// byte to its arrival in the receiving code.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/LatencySeries.h"

namespace bench {

class ByteChain : public LatencySeries {
 public:
  static constexpr std::chrono::microseconds kGap{500};

  // master: the pty's master, written by the receiving code. warmup bytes go first and are
  // not sampled.
  ByteChain(int master, int warmup, int samples);

  // Writes the first byte.
  void Start() override;

  // After Done(): the sampled latencies.
  const std::vector<std::int64_t>& LatenciesNs() const { return Samples(); }

 protected:
  std::int64_t Sample(std::int64_t atNs) const override { return atNs - sentAt_; }
  // Unless the series is over, sleeps the gap and writes the next byte on the caller's thread.
  void Next(int arrivals) override;

 private:
  void Send();

  int master_;
  std::int64_t sentAt_ = 0;
};

}  // namespace bench
