#include "serial/driver/posix/engine/ReceiveQueue.h"

#include "serial/driver/posix/engine/ReceivePath.h"

namespace drv::posix {

void ReceiveQueue::SetLimit(std::uint32_t limit) {
  limit_ = limit;
  above80_ = AtOrAbove80();
}

std::uint32_t ReceiveQueue::Free(std::uint32_t beyond) const {
  const std::uint64_t room = std::uint64_t{limit_} + beyond;
  return bytes_.Size() < room ? static_cast<std::uint32_t>(room - bytes_.Size()) : 0;
}

bool ReceiveQueue::AtOrAbove80() const {
  return AtOrAbove80Percent(bytes_.Size(), limit_);
}

ReceiveQueue::Arrival ReceiveQueue::Accept(const std::uint8_t* raw, std::size_t n) {
  // One implementation of the rules, the one the fuzz target drives.
  const ReceiveOutcome outcome = TakeIntoQueue(raw, n, decoder_, rules_, bytes_, limit_, above80_);
  return Arrival{outcome.events, outcome.errors};
}

std::uint32_t ReceiveQueue::Take(std::uint8_t* dst, std::uint32_t max) {
  const auto n = static_cast<std::uint32_t>(bytes_.Take(dst, max));
  if (!AtOrAbove80()) above80_ = false;
  return n;
}

void ReceiveQueue::Clear() {
  bytes_.Clear();
  decoder_.Reset();
  above80_ = false;
}

}  // namespace drv::posix
