// The engine's timing as pure functions: how COMMTIMEOUTS shape a read or a write, and when a
// held transmitter is asked again whether it has drained.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "serial/driver/posix/engine/TransferTimeouts.h"
#include "serial/driver/posix/engine/TransmitDrain.h"

namespace {

using drv::kMaxDword;
using drv::posix::DrainChecks;

drv::CommTimeouts T(std::uint32_t i, std::uint32_t m, std::uint32_t c) {
  drv::CommTimeouts t;
  t.ReadIntervalTimeout = i;
  t.ReadTotalTimeoutMultiplier = m;
  t.ReadTotalTimeoutConstant = c;
  return t;
}

// A plan in words; "count" is a read that waits for its count with no timer at all.
std::string Describe(const drv::posix::ReadPlan& p) {
  std::vector<std::string> parts;
  if (p.returnAtOnce) parts.push_back("at once");
  if (p.returnIfAnyQueued) parts.push_back("queued at once");
  if (p.returnOnFirstBytes) parts.push_back("first bytes");
  if (p.totalMs) parts.push_back("total " + std::to_string(*p.totalMs));
  if (p.intervalMs != 0) parts.push_back("interval " + std::to_string(p.intervalMs));
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out.empty() ? "count" : out;
}

std::string Name(std::uint32_t v) {
  return v == kMaxDword ? "MAXDWORD" : std::to_string(v);
}

TEST(ReadPlan, EveryCombinationOfTheThreeReadFields) {
  struct Row {
    std::uint32_t interval, multiplier, constant, count;
    const char* plan;
  };
  const Row rows[] = {
      {kMaxDword, 0, 0, 10, "at once"},
      // Interval MAXDWORD with a finite total: what is queued at the start, else the count or
      // the total, whatever the multiplier (the tool's own read is the first).
      {kMaxDword, 0, 100, 10, "queued at once, total 100"},
      {kMaxDword, 10, 100, 4, "queued at once, total 140"},
      {kMaxDword, 5, 0, 4, "queued at once, total 20"},
      {kMaxDword, kMaxDword - 1, 1, 1, "queued at once, total 4294967295"},
      // Only a MAXDWORD multiplier with 0 < constant < MAXDWORD ends on the first arrival.
      {kMaxDword, kMaxDword, 250, 10, "queued at once, first bytes, total 250"},
      {kMaxDword, kMaxDword, kMaxDword - 1, 10, "queued at once, first bytes, total 4294967294"},
      {kMaxDword, kMaxDword, 0, 10, "queued at once, total 0"},
      // A MAXDWORD constant: no timer.
      {kMaxDword, 0, kMaxDword, 10, "count"},
      {kMaxDword, 5, kMaxDword, 10, "count"},
      {kMaxDword, kMaxDword, kMaxDword, 10, "count"},
      // Any other interval is a gap limit beside the total.
      {50, 10, 100, 4, "total 140, interval 50"},
      {150, 0, 0, 4, "interval 150"},
      {kMaxDword - 1, 0, 0, 4, "interval 4294967294"},
      {0, 0, 0, 4, "count"},
      {0, kMaxDword - 1, kMaxDword - 1, kMaxDword, "total 18446744065119617024"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Describe(drv::posix::PlanRead(T(r.interval, r.multiplier, r.constant), r.count)),
              r.plan)
        << Name(r.interval) << "/" << Name(r.multiplier) << "/" << Name(r.constant) << ", count "
        << r.count;
  }
}

TEST(WritePlan, TotalTimeoutOnlyWhenAnyFieldIsSet) {
  drv::CommTimeouts t;
  EXPECT_FALSE(drv::posix::PlanWrite(t, 100));
  t.WriteTotalTimeoutMultiplier = 100;
  t.WriteTotalTimeoutConstant = 10;
  EXPECT_EQ(drv::posix::PlanWrite(t, 1).value_or(0), 110u) << "the tool's 100/10, one byte";
}

TEST(Deadline, ALimitBeyondWhatTheClockCountsIsNone) {
  using std::chrono::milliseconds;
  const auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(drv::posix::DeadlineAfter(now, 0), now);
  EXPECT_EQ(drv::posix::DeadlineAfter(now, 110), now + milliseconds(110)) << "the tool's 100/10";
  EXPECT_EQ(drv::posix::DeadlineAfter(now, 2 * std::uint64_t{kMaxDword}),
            now + milliseconds(2 * std::int64_t{kMaxDword}))
      << "twice MAXDWORD ms, 99 days: still a deadline";
  EXPECT_FALSE(drv::posix::DeadlineAfter(now, std::uint64_t{kMaxDword - 1} * 4096))
      << "multiplier MAXDWORD-1, 4096 bytes: 557 years";
  EXPECT_FALSE(drv::posix::DeadlineAfter(now, UINT64_MAX));
}

// The waits of successive checks that find `queued` bytes each time.
std::vector<std::uint64_t> Waits(DrainChecks& checks, const std::vector<std::uint32_t>& queued,
                                 std::uint32_t bitsPerSecond) {
  std::vector<std::uint64_t> waits;
  for (std::uint32_t q : queued) waits.push_back(checks.NextWaitMs(q, 10, bitsPerSecond));
  return waits;
}

TEST(DrainChecks, DoubleWhileNothingLeavesUpTo100Ms) {
  DrainChecks checks;
  EXPECT_EQ(Waits(checks, std::vector<std::uint32_t>(10, 1), 115200),
            (std::vector<std::uint64_t>{1, 2, 4, 8, 16, 32, 64, 100, 100, 100}))
      << "1 byte held at 115200 baud";
  DrainChecks slow;
  EXPECT_EQ(Waits(slow, {100, 100, 100}, 300), (std::vector<std::uint64_t>{3334, 3334, 3334}))
      << "100 bytes at 300 baud: never before they could have left";
}

TEST(DrainChecks, ProgressOrNewBytesStartFromTheLineTimeAgain) {
  DrainChecks checks;
  EXPECT_EQ(Waits(checks, {48, 48, 48, 24, 24, 24}, 9600),
            (std::vector<std::uint64_t>{51, 100, 100, 26, 52, 100}))
      << "48 bytes held at 9600 baud, then half of them gone";
  checks.Reset();
  EXPECT_EQ(checks.NextWaitMs(24, 10, 9600), 26u) << "after a reset the same count is a first";
}

}  // namespace
