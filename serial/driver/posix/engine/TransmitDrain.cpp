#include "serial/driver/posix/engine/TransmitDrain.h"

#include <algorithm>

namespace drv::posix {

std::uint64_t DrainChecks::NextWaitMs(std::uint32_t queued, std::uint32_t bitsPerCharacter,
                                      std::uint32_t bitsPerSecond) {
  const std::uint64_t bits = std::uint64_t{queued} * bitsPerCharacter;
  // Rounded up, and at least 1 ms: poll() counts in milliseconds.
  const std::uint64_t lineMs = bits * 1000 / std::max<std::uint32_t>(bitsPerSecond, 1) + 1;
  const bool stalled = lastQueued_ != 0 && queued >= lastQueued_;
  lastWaitMs_ =
      stalled ? std::max(lineMs, std::min(lastWaitMs_ * 2, kLongestDrainCheckMs)) : lineMs;
  lastQueued_ = queued;
  return lastWaitMs_;
}

}  // namespace drv::posix
