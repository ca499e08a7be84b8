#include "serial/driver/posix/ReceivePath.h"

#include <algorithm>

namespace drv::posix {

ReceiveOutcome TakeIntoQueue(const std::uint8_t* raw, std::size_t n, MarkedInputDecoder& decoder,
                             const ReceiveRules& rules, std::deque<std::uint8_t>& queue,
                             std::uint32_t queueLimit, bool& above80) {
  ReceiveOutcome out;
  const std::size_t before = queue.size();
  auto accept = [&](std::uint8_t b) {
    if (b == 0 && rules.discardNull) return;
    queue.push_back(b);
  };
  decoder.Feed(raw, n, [&](InputKind kind, std::uint8_t b) {
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
  });
  if (queue.size() > before) {
    out.events |= kEvRxChar;
    if (std::find(queue.begin() + static_cast<std::ptrdiff_t>(before), queue.end(),
                  rules.eventChar) != queue.end()) {
      out.events |= kEvRxFlag;
    }
    if (!above80 && AtOrAbove80Percent(queue.size(), queueLimit)) {
      above80 = true;
      out.events |= kEvRx80Full;
    }
  }
  return out;
}

}  // namespace drv::posix
