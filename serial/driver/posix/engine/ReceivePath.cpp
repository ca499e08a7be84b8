#include "serial/driver/posix/engine/ReceivePath.h"

#include <cstring>

namespace drv::posix {

namespace {

// Where the next byte that needs the decoder lies: 0xFF on a marked line, NUL when NULs are
// discarded. Each kind's last position is kept until passed, so a chunk is scanned once per
// kind however the two interleave.
class SpecialByteFinder {
 public:
  SpecialByteFinder(const std::uint8_t* raw, std::size_t n, bool marks, bool nuls)
      : raw_(raw), n_(n), mark_(marks ? 0 : n), nul_(nuls ? 0 : n), marks_(marks), nuls_(nuls) {}

  // The index of the first such byte at or after from, or n.
  std::size_t From(std::size_t from) {
    if (marks_ && mark_ < from) mark_ = Find(0xFF, from);
    if (nuls_ && nul_ < from) nul_ = Find(0x00, from);
    return mark_ < nul_ ? mark_ : nul_;
  }

 private:
  std::size_t Find(std::uint8_t b, std::size_t from) const {
    const void* hit = std::memchr(raw_ + from, b, n_ - from);
    return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - raw_) : n_;
  }

  const std::uint8_t* raw_;
  std::size_t n_;
  std::size_t mark_;
  std::size_t nul_;
  bool marks_;
  bool nuls_;
};

}  // namespace

ReceiveOutcome TakeIntoQueue(const std::uint8_t* raw, std::size_t n, MarkedInputDecoder& decoder,
                             const ReceiveRules& rules, ByteRing& queue, std::uint32_t queueLimit,
                             bool& above80) {
  ReceiveOutcome out;
  const std::size_t before = queue.Size();
  queue.Reserve(n + 1);  // a stray mark left by the previous read adds one byte
  // A discarded NUL never reaches the queue, so then a NUL event character cannot fire.
  bool flagToFind = !(rules.discardNull && rules.eventChar == 0);
  auto accept = [&](std::uint8_t b) {
    if (b == 0 && rules.discardNull) return;
    if (b == rules.eventChar) {
      flagToFind = false;
      out.events |= kEvRxFlag;
    }
    queue.Push(b);
  };
  auto sink = [&](InputKind kind, std::uint8_t b) {
    switch (kind) {
      case InputKind::kData:
        accept(b);
        break;
      case InputKind::kLineError:
        out.errors |= rules.lineHasParity ? kCeRxParity : kCeFrame;
        out.events |= kEvErr;
        accept(rules.replaceErrors ? rules.errorChar : b);
        break;
      case InputKind::kBreak:
        out.errors |= kCeBreak;
        out.events |= kEvBreak;
        break;
    }
  };
  SpecialByteFinder finder(raw, n, decoder.Marked(), rules.discardNull);
  std::size_t i = 0;
  while (i < n) {
    if (decoder.BetweenItems()) {
      const std::size_t end = finder.From(i);
      if (end > i) {
        queue.Append(raw + i, end - i);
        if (flagToFind && std::memchr(raw + i, rules.eventChar, end - i) != nullptr) {
          flagToFind = false;
          out.events |= kEvRxFlag;
        }
        i = end;
        continue;
      }
    }
    decoder.Step(raw[i++], sink);
  }
  if (queue.Size() > before) {
    out.events |= kEvRxChar;
    if (!above80 && AtOrAbove80Percent(queue.Size(), queueLimit)) {
      above80 = true;
      out.events |= kEvRx80Full;
    }
  }
  return out;
}

}  // namespace drv::posix
