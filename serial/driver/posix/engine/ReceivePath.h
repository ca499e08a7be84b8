// The receive path of a tty as a pure function: raw bytes from the line discipline (PARMRK
// marks included) go into the engine's receive queue by the DCB's rules, and the caller learns
// which events and line errors they raised. Nothing here touches a descriptor or a clock, so
// it can be driven with any bytes at all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/driver/posix/engine/ByteRing.h"
#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/MarkedInput.h"

namespace drv::posix {

struct ReceiveOutcome {
  std::uint32_t events = 0;  // EV_RXCHAR, EV_RXFLAG, EV_RX80FULL, EV_ERR, EV_BREAK
  std::uint32_t errors = 0;  // CE_RXPARITY or CE_FRAME, CE_BREAK
};

// The EV_RX80FULL threshold: a queue holding size bytes of its limit is at or above 80 %.
inline bool AtOrAbove80Percent(std::size_t size, std::uint32_t limit) {
  return size * 5 >= static_cast<std::size_t>(limit) * 4;
}

// Decodes raw[0..n) and appends the data bytes to queue. above80 is the queue's 80 % latch:
// EV_RX80FULL fires when the queue reaches 80 % of queueLimit while the latch is clear.
// The caller bounds n by the queue's free space; decoding never yields more bytes than it
// reads, apart from a lone mark byte that no line discipline sends (kept, not dropped).
// Runs of bytes that decode as themselves are copied whole; only mark sequences and NUL bytes
// to be discarded go through the decoder one by one.
ReceiveOutcome TakeIntoQueue(const std::uint8_t* raw, std::size_t n, MarkedInputDecoder& decoder,
                             const ReceiveRules& rules, ByteRing& queue, std::uint32_t queueLimit,
                             bool& above80);

}  // namespace drv::posix
