#include "bench/ArrivalLog.h"

#include <cstdio>

namespace bench {

ArrivalLog::ArrivalLog(int counterFd, int warmup, int samples)
    : LatencySeries(warmup, samples), counter_(ArrivalCounter::Map(counterFd)) {}

void ArrivalLog::Start() {
  StartMeterIfNoWarmup();
  std::printf("READY\n");
  std::fflush(stdout);
}

}  // namespace bench
