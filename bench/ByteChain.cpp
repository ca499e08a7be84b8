#include "bench/ByteChain.h"

#include <thread>

namespace bench {

ByteChain::ByteChain(int master, int warmup, int samples)
    : LatencySeries(warmup, samples), master_(master) {}

void ByteChain::Start() {
  StartMeterIfNoWarmup();
  Send();
}

void ByteChain::Send() {
  sentAt_ = NowNs();
  WriteAllTo(master_, "a", 1);
}

void ByteChain::Next(int) {
  if (Done()) return;
  // The meter covers every sampled byte's pause, write and way to the receiver.
  std::this_thread::sleep_for(kGap);
  Send();
}

}  // namespace bench
