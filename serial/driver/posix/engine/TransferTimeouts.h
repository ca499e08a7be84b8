// How COMMTIMEOUTS shape one read or one write, case by case as the Windows serial driver
// defines them. Pure functions: the engine applies the result with its monotonic clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

struct ReadPlan {
  // MAXDWORD/0/0: complete at once with whatever is queued, possibly nothing.
  bool returnAtOnce = false;
  // MAXDWORD with a finite total timeout: a read that finds bytes queued when it starts
  // completes at once with them; one that finds none waits for its count or the timeout.
  bool returnIfAnyQueued = false;
  // MAXDWORD/MAXDWORD/c with 0 < c < MAXDWORD only: a read that found nothing also completes
  // as soon as the first bytes arrive, taking everything then queued.
  bool returnOnFirstBytes = false;
  // Whole-transfer limit in ms, counted from the start of the read.
  std::optional<std::uint64_t> totalMs;
  // Longest gap between two bytes, counted from the first byte; 0 means no interval limit.
  std::uint32_t intervalMs = 0;
};

ReadPlan PlanRead(const CommTimeouts& t, std::uint32_t count);

// Whole-transfer limit of a write in ms; none when both write fields are zero.
std::optional<std::uint64_t> PlanWrite(const CommTimeouts& t, std::uint32_t count);

// The time `ms` after `now`; none when that lies beyond what the clock can count (a multiplier
// near MAXDWORD times a large count): a limit that long is no limit.
std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(
    std::chrono::steady_clock::time_point now, std::uint64_t ms);

}  // namespace drv::posix
