// How COMMTIMEOUTS shape one read or one write, case by case as the Windows serial driver
// defines them. Pure functions: the engine applies the result with its monotonic clock.
#pragma once

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

}  // namespace drv::posix
