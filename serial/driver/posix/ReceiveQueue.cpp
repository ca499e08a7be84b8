#include "serial/driver/posix/ReceiveQueue.h"

#include <algorithm>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

void ReceiveQueue::SetLimit(std::uint32_t limit) {
  limit_ = limit;
  above80_ = AtOrAbove80();
}

std::uint32_t ReceiveQueue::Free() const {
  return bytes_.size() < limit_ ? limit_ - static_cast<std::uint32_t>(bytes_.size()) : 0;
}

bool ReceiveQueue::AtOrAbove80() const {
  return bytes_.size() * 5 >= static_cast<std::size_t>(limit_) * 4;
}

ReceiveQueue::Arrival ReceiveQueue::Accept(const std::uint8_t* raw, std::size_t n) {
  Arrival arrival;
  decoder_.Feed(raw, n, [&](InputKind kind, std::uint8_t b) {
    switch (kind) {
      case InputKind::kData:
        Push(b, arrival);
        break;
      case InputKind::kLineError:
        // Linux marks parity and framing errors alike: with parity on the line a parity
        // error is the likelier cause, without it only framing is possible.
        arrival.errors |= rules_.lineHasParity ? kCeRxParity : kCeFrame;
        arrival.events |= kEvErr;
        Push(rules_.replaceErrors ? rules_.errorChar : b, arrival);
        break;
      case InputKind::kBreak:
        arrival.errors |= kCeBreak;
        arrival.events |= kEvBreak;
        break;
    }
  });
  if (!above80_ && AtOrAbove80() && (arrival.events & kEvRxChar)) {
    above80_ = true;
    arrival.events |= kEvRx80Full;
  }
  return arrival;
}

void ReceiveQueue::Push(std::uint8_t b, Arrival& arrival) {
  // As in the Windows driver, NUL stripping comes after error replacement.
  if (b == 0 && rules_.discardNull) return;
  bytes_.push_back(b);
  arrival.events |= kEvRxChar;
  if (b == rules_.eventChar) arrival.events |= kEvRxFlag;
}

std::uint32_t ReceiveQueue::Take(std::uint8_t* dst, std::uint32_t max) {
  const std::uint32_t n = std::min<std::uint32_t>(max, static_cast<std::uint32_t>(bytes_.size()));
  std::copy_n(bytes_.begin(), n, dst);
  bytes_.erase(bytes_.begin(), bytes_.begin() + n);
  if (!AtOrAbove80()) above80_ = false;
  return n;
}

void ReceiveQueue::Clear() {
  bytes_.clear();
  decoder_.Reset();
  above80_ = false;
}

}  // namespace drv::posix
