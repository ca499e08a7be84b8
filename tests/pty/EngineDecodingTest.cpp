// The pure parts of the engine: the PARMRK decoder and the read/write timeout plans.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/driver/posix/MarkedInput.h"
#include "serial/driver/posix/TransferTimeouts.h"

namespace {

using drv::kMaxDword;
using drv::posix::InputKind;
using drv::posix::MarkedInputDecoder;

// Renders decoded items: data as itself, "<E:c>" a line error on c, "<B>" a break.
std::string Decode(const std::vector<std::string>& chunks) {
  MarkedInputDecoder decoder;
  std::string out;
  for (const std::string& c : chunks) {
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(c.data()), c.size(),
                 [&](InputKind kind, std::uint8_t b) {
                   if (kind == InputKind::kData) out.push_back(static_cast<char>(b));
                   if (kind == InputKind::kLineError) out += std::string("<E:") + char(b) + ">";
                   if (kind == InputKind::kBreak) out += "<B>";
                 });
  }
  return out;
}

TEST(MarkedInput, MarksAndEscapesEvenWhenSplitAcrossReads) {
  const std::string ff(1, '\xFF');
  const std::string nul(1, '\0');
  EXPECT_EQ(Decode({"ab"}), "ab");
  EXPECT_EQ(Decode({ff + ff}), ff);
  EXPECT_EQ(Decode({ff, ff}), ff) << "escape split";
  EXPECT_EQ(Decode({"x" + ff + nul + "q" + "y"}), "x<E:q>y");
  EXPECT_EQ(Decode({"x" + ff, nul, "q"}), "x<E:q>") << "mark split twice";
  EXPECT_EQ(Decode({ff + nul + nul + "z"}), "<B>z");
  EXPECT_EQ(Decode({ff + "A"}), ff + "A") << "an unknown sequence keeps both bytes";
}

drv::CommTimeouts T(std::uint32_t i, std::uint32_t m, std::uint32_t c) {
  drv::CommTimeouts t;
  t.ReadIntervalTimeout = i;
  t.ReadTotalTimeoutMultiplier = m;
  t.ReadTotalTimeoutConstant = c;
  return t;
}

TEST(ReadPlan, EachWindowsCase) {
  auto p = drv::posix::PlanRead(T(kMaxDword, 0, 0), 10);
  EXPECT_TRUE(p.returnAtOnce);
  EXPECT_FALSE(p.totalMs);

  p = drv::posix::PlanRead(T(kMaxDword, 0, 100), 10);
  EXPECT_TRUE(p.returnOnFirstBytes) << "MAXDWORD/0/100";
  EXPECT_EQ(p.totalMs.value_or(0), 100u);
  EXPECT_EQ(p.intervalMs, 0u);

  p = drv::posix::PlanRead(T(kMaxDword, kMaxDword, 250), 10);
  EXPECT_TRUE(p.returnOnFirstBytes) << "MAXDWORD/MAXDWORD/250";
  EXPECT_EQ(p.totalMs.value_or(0), 250u);

  p = drv::posix::PlanRead(T(kMaxDword, 5, kMaxDword), 10);
  EXPECT_FALSE(p.returnOnFirstBytes) << "MAXDWORD/5/MAXDWORD waits for the count";
  EXPECT_FALSE(p.totalMs);

  p = drv::posix::PlanRead(T(50, 10, 100), 4);
  EXPECT_FALSE(p.returnAtOnce || p.returnOnFirstBytes);
  EXPECT_EQ(p.totalMs.value_or(0), 140u);
  EXPECT_EQ(p.intervalMs, 50u);

  p = drv::posix::PlanRead(T(0, 0, 0), 4);
  EXPECT_FALSE(p.totalMs);
  EXPECT_EQ(p.intervalMs, 0u);

  p = drv::posix::PlanRead(T(0, kMaxDword - 1, kMaxDword - 1), kMaxDword);
  EXPECT_GT(p.totalMs.value_or(0), std::uint64_t{kMaxDword}) << "no 32-bit wrap-around";
}

TEST(WritePlan, TotalTimeoutOnlyWhenAnyFieldIsSet) {
  drv::CommTimeouts t;
  EXPECT_FALSE(drv::posix::PlanWrite(t, 100));
  t.WriteTotalTimeoutMultiplier = 100;
  t.WriteTotalTimeoutConstant = 10;
  EXPECT_EQ(drv::posix::PlanWrite(t, 1).value_or(0), 110u) << "the tool's 100/10, one byte";
}

}  // namespace
