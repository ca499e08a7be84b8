#include "serial/driver/posix/engine/TransferTimeouts.h"

namespace drv::posix {

ReadPlan PlanRead(const CommTimeouts& t, std::uint32_t count) {
  ReadPlan plan;
  const std::uint64_t multiplier = t.ReadTotalTimeoutMultiplier;
  const std::uint64_t constant = t.ReadTotalTimeoutConstant;
  if (t.ReadIntervalTimeout == kMaxDword) {
    if (multiplier == 0 && constant == 0) {
      plan.returnAtOnce = true;
    } else if (constant != kMaxDword) {
      plan.returnIfAnyQueued = true;
      if (multiplier == kMaxDword) {
        // Not an endless product: the constant alone limits the read, and only a real limit
        // makes the first arrival end it (a zero one has ended it already).
        plan.totalMs = constant;
        plan.returnOnFirstBytes = constant != 0;
      } else {
        plan.totalMs = multiplier * count + constant;
      }
    }
    // A MAXDWORD constant leaves no timer at all: the read waits for its count.
    return plan;
  }
  if (multiplier != 0 || constant != 0) plan.totalMs = multiplier * count + constant;
  plan.intervalMs = t.ReadIntervalTimeout;
  return plan;
}

std::optional<std::uint64_t> PlanWrite(const CommTimeouts& t, std::uint32_t count) {
  const std::uint64_t multiplier = t.WriteTotalTimeoutMultiplier;
  const std::uint64_t constant = t.WriteTotalTimeoutConstant;
  if (multiplier == 0 && constant == 0) return std::nullopt;
  return multiplier * count + constant;
}

std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(
    std::chrono::steady_clock::time_point now, std::uint64_t ms) {
  using namespace std::chrono;
  const auto room = duration_cast<milliseconds>(steady_clock::time_point::max() - now).count();
  if (room < 0 || ms > static_cast<std::uint64_t>(room)) return std::nullopt;
  return now + milliseconds(static_cast<milliseconds::rep>(ms));
}

}  // namespace drv::posix
