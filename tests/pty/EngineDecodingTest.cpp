// The pure parts of the engine: the PARMRK decoder, the receive rules and the queue's ring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/driver/posix/engine/ByteRing.h"
#include "serial/driver/posix/engine/MarkedInput.h"
#include "serial/driver/posix/engine/ReceiveQueue.h"

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

namespace {

using drv::posix::ByteRing;

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string TakeAll(ByteRing& ring, std::size_t max) {
  std::string out(max, '\0');
  out.resize(ring.Take(reinterpret_cast<std::uint8_t*>(out.data()), max));
  return out;
}

TEST(ByteRing, RunsWrapAroundTheBlockEndAndGrowInOrder) {
  ByteRing ring;
  const std::string first(200, 'a');
  ring.Append(Bytes(first).data(), first.size());
  const std::size_t capacity = ring.Capacity();
  ASSERT_GE(capacity, 200u);
  EXPECT_EQ(TakeAll(ring, 150), std::string(150, 'a'));
  // The next run starts 200 bytes in and ends past the block's end.
  std::string wrapping;
  for (std::size_t i = 0; i < capacity - 60; ++i)
    wrapping.push_back(static_cast<char>('0' + i % 10));
  ring.Append(Bytes(wrapping).data(), wrapping.size());
  ring.Push('!');
  EXPECT_EQ(ring.Capacity(), capacity) << "content of " << ring.Size() << " fits: no reallocation";
  EXPECT_EQ(TakeAll(ring, 51), std::string(50, 'a') + "0") << "oldest first across the run joint";
  // Growing while the content wraps keeps its order.
  const std::string big(3 * capacity, 'z');
  ring.Append(Bytes(big).data(), big.size());
  EXPECT_GT(ring.Capacity(), capacity);
  EXPECT_EQ(TakeAll(ring, wrapping.size()), wrapping.substr(1) + "!");
  EXPECT_EQ(TakeAll(ring, big.size() + 1), big);
  EXPECT_EQ(ring.Size(), 0u);
  EXPECT_EQ(TakeAll(ring, 10), "") << "an empty ring hands out nothing";
}

// Arrivals are copied in runs between the bytes that need the decoder: 0xFF on a marked line,
// NUL when NULs are discarded. The cases put those bytes at a chunk's edges and between runs.
TEST(ReceiveRules, RunsBetweenMarksAndNulsKeepEveryRule) {
  drv::posix::ReceiveRules rules;
  rules.discardNull = true;
  rules.eventChar = '>';
  ReceiveQueue q;
  q.SetRules(rules);
  q.SetLimit(1 << 16);
  const std::string ff(1, '\xFF');
  const std::string nul(1, '\0');
  const std::string text(3000, 't');

  auto a = Feed(q, nul + text + ff + ff + text + nul + nul + "end" + ff);
  EXPECT_EQ(a.events, drv::kEvRxChar) << "no event character in any run";
  a = Feed(q, nul + "q" + text + ">");
  EXPECT_EQ(a.errors, drv::kCeFrame) << "a mark split from its byte by the read's end";
  EXPECT_EQ(a.events, drv::kEvRxChar | drv::kEvErr | drv::kEvRxFlag)
      << "the event character ends the chunk's last run";
  EXPECT_EQ(Drain(q), text + ff + text + "end" + "q" + text + ">");

  rules.discardNull = false;
  rules.eventChar = 0;
  q.SetRules(rules);
  a = Feed(q, text + ff + ff + text + nul + text);
  EXPECT_EQ(a.events, drv::kEvRxChar | drv::kEvRxFlag) << "a kept NUL is the event character";
  EXPECT_EQ(Drain(q), text + ff + text + nul + text);

  rules.eventChar = '\xFF';
  q.SetRules(rules);
  q.SetMarked(false);
  a = Feed(q, text + ff + nul + text);
  EXPECT_EQ(a.events, drv::kEvRxChar | drv::kEvRxFlag) << "unmarked, 0xFF is data in a run";
  EXPECT_EQ(a.errors, 0u);
  EXPECT_EQ(Drain(q), text + ff + nul + text);
}

}  // namespace
