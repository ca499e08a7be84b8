// The pure parts of the engine: the PARMRK decoder and the receive rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/driver/posix/MarkedInput.h"
#include "serial/driver/posix/ReceiveQueue.h"

namespace {

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

}  // namespace

namespace {

using drv::posix::ReceiveQueue;

ReceiveQueue::Arrival Feed(ReceiveQueue& q, const std::string& raw) {
  return q.Accept(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
}

std::string Drain(ReceiveQueue& q) {
  std::string out(q.Size(), '\0');
  q.Take(reinterpret_cast<std::uint8_t*>(out.data()), static_cast<std::uint32_t>(out.size()));
  return out;
}

const std::string kMark("\xFF\x00", 2);

TEST(ReceiveRules, NulBytesEventCharacterAndPlainArrivals) {
  drv::posix::ReceiveRules rules;
  rules.discardNull = true;
  rules.eventChar = '>';
  ReceiveQueue q;
  q.SetRules(rules);
  EXPECT_EQ(Feed(q, std::string(3, '\0')).events, 0u) << "only discarded NULs";
  EXPECT_EQ(Feed(q, std::string("a\0b", 3)).events, drv::kEvRxChar);
  EXPECT_EQ(Feed(q, "box>").events, drv::kEvRxChar | drv::kEvRxFlag);
  EXPECT_EQ(Drain(q), "abbox>");
}

TEST(ReceiveRules, LineErrorsAndBreaks) {
  drv::posix::ReceiveRules rules;
  ReceiveQueue q;
  q.SetRules(rules);
  auto a = Feed(q, "x" + kMark + "q");
  EXPECT_EQ(a.errors, drv::kCeFrame) << "no parity on the line: a framing error";
  EXPECT_EQ(a.events, drv::kEvRxChar | drv::kEvErr);
  EXPECT_EQ(Drain(q), "xq") << "without replacement the byte is kept";

  rules.lineHasParity = true;
  rules.checkParity = rules.replaceErrors = true;
  rules.errorChar = '?';
  q.SetRules(rules);
  a = Feed(q, kMark + "q");
  EXPECT_EQ(a.errors, drv::kCeRxParity);
  EXPECT_EQ(Drain(q), "?");

  rules.errorChar = 0;
  rules.discardNull = true;
  q.SetRules(rules);
  a = Feed(q, kMark + "q");
  EXPECT_EQ(a.errors, drv::kCeRxParity) << "a replaced-then-discarded byte still counts";
  EXPECT_EQ(a.events, drv::kEvErr);
  EXPECT_EQ(q.Size(), 0u);

  a = Feed(q, kMark + std::string(1, '\0') + "z");
  EXPECT_EQ(a.errors, drv::kCeBreak);
  EXPECT_EQ(a.events, drv::kEvBreak | drv::kEvRxChar);
  EXPECT_EQ(Drain(q), "z") << "a break queues no byte";
}

// A network line reports line errors out of band: there 0xFF and what follows it are data.
TEST(ReceiveRules, AnUnmarkedQueueTakesMarkSequencesAsData) {
  drv::posix::ReceiveRules rules;
  rules.eventChar = '#';
  ReceiveQueue q;
  q.SetRules(rules);
  q.SetMarked(false);
  const std::string raw = "x" + kMark + "q" + std::string(1, '\xFF') + kMark + "z";
  const auto a = Feed(q, raw.substr(0, 2));
  EXPECT_EQ(a.errors, 0u) << "0xFF split from what follows it";
  const auto b = Feed(q, raw.substr(2));
  EXPECT_EQ(b.errors, 0u);
  EXPECT_EQ(b.events, drv::kEvRxChar);
  EXPECT_EQ(Drain(q), raw);

  q.SetMarked(true);
  EXPECT_EQ(Feed(q, kMark + "q").errors, drv::kCeFrame) << "marked again";
}

TEST(ReceiveRules, EightyPercentOncePerCrossingAndNoByteLostOnShrinking) {
  ReceiveQueue q;
  q.SetLimit(10);
  EXPECT_EQ(Feed(q, "1234567").events & drv::kEvRx80Full, 0u) << "7 of 10";
  EXPECT_NE(Feed(q, "8").events & drv::kEvRx80Full, 0u) << "8 of 10";
  EXPECT_EQ(Feed(q, "9").events & drv::kEvRx80Full, 0u) << "still above: not again";
  std::uint8_t buf[4];
  q.Take(buf, 4);  // 5 left
  EXPECT_NE(Feed(q, "abc").events & drv::kEvRx80Full, 0u) << "crossing again";
  EXPECT_EQ(q.Free(), 2u);
  q.SetLimit(4);
  EXPECT_EQ(q.Free(), 0u);
  EXPECT_EQ(q.Size(), 8u) << "a smaller limit keeps every byte";
  q.Clear();
  EXPECT_EQ(q.Free(), 4u);
}

}  // namespace
