// When the engine asks the kernel again whether its output queue has drained (EV_TXEMPTY).
//
// The kernel offers no wake-up for an empty output queue, so the engine asks TIOCOUTQ at times
// it chooses. The bytes held should be gone after their time on the line; if they are not, the
// line is held (CTS low, XOFF received, a stalled adapter) and may stay so for minutes, so the
// checks grow further apart instead of waking the engine at the character rate.
#pragma once

#include <cstdint>

namespace drv::posix {

// Longest wait between two checks of a held line: the most EV_TXEMPTY can come late.
inline constexpr std::uint64_t kLongestDrainCheckMs = 100;

class DrainChecks {
 public:
  // The wait in ms before the next check, given the bytes the kernel holds now. After the first
  // check and after any progress, the time those bytes take on the line; while nothing
  // leaves, twice the previous wait, up to kLongestDrainCheckMs (or the line time if longer).
  std::uint64_t NextWaitMs(std::uint32_t queued, std::uint32_t bitsPerCharacter,
                           std::uint32_t bitsPerSecond);
  // New bytes handed to the kernel, or the queue emptied or purged: the next check is a first.
  void Reset() { *this = DrainChecks(); }

 private:
  std::uint32_t lastQueued_ = 0;  // 0: no check since the last reset
  std::uint64_t lastWaitMs_ = 0;
};

}  // namespace drv::posix
