// The receiving side of the independent latency method (IndependentDevice.h for the device
// side): the bytes arrive on their own, as a Box's do, and the receiving code only notes when
// each reached it. Start says READY on standard output (the receiving code is in place);
// each arrival is counted in the shared ArrivalCounter, which is how the device side knows
// when to send the next byte.
#pragma once

#include <cstdint>

#include "bench/ArrivalCounter.h"
#include "bench/LatencySeries.h"

namespace bench {

class ArrivalLog : public LatencySeries {
 public:
  // counterFd: the page of the shared counter, handed over by the device side.
  ArrivalLog(int counterFd, int warmup, int samples);

  void Start() override;

 protected:
  // The samples are the times the bytes arrived; the device side, which knows when it sent
  // each, makes latencies of them.
  std::int64_t Sample(std::int64_t atNs) const override { return atNs; }
  void Next(int arrivals) override { counter_.Store(arrivals); }

 private:
  ArrivalCounter counter_;
};

}  // namespace bench
