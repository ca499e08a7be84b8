// The engine's own receive queue: its size, what it holds, and arrivals taken in by the DCB's
// rules (TakeIntoQueue in ReceivePath.h: PARMRK decoding, NUL discarding, error-character
// replacement, events and errors). No I/O here: the engine feeds it what it read from the line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/driver/posix/engine/ByteRing.h"
#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/MarkedInput.h"

namespace drv::posix {

class ReceiveQueue {
 public:
  struct Arrival {
    std::uint32_t events = 0;  // EV_* bits
    std::uint32_t errors = 0;  // CE_* bits
  };

  void SetRules(const ReceiveRules& rules) { rules_ = rules; }
  // Whether arrivals carry PARMRK marks (a tty) or are data byte for byte (a network line,
  // where 0xFF is an ordinary byte).
  void SetMarked(bool marked) { decoder_.SetMarked(marked); }
  // A limit below the content keeps every byte; Free() is 0 until the content fits.
  void SetLimit(std::uint32_t limit);
  // Room up to the limit, or up to `beyond` bytes past it.
  std::uint32_t Free(std::uint32_t beyond = 0) const;
  std::size_t Size() const { return bytes_.Size(); }

  // Decodes raw line input (at most Free() bytes, so that nothing can overflow) into the queue.
  Arrival Accept(const std::uint8_t* raw, std::size_t n);
  // Moves up to max bytes into dst; returns how many.
  std::uint32_t Take(std::uint8_t* dst, std::uint32_t max);
  void Clear();

 private:
  bool AtOrAbove80() const;

  ReceiveRules rules_;
  MarkedInputDecoder decoder_;
  ByteRing bytes_;
  std::uint32_t limit_ = 4096;
  bool above80_ = false;
};

}  // namespace drv::posix
