// Decodes the byte stream of a tty in PARMRK mode, where the line discipline reports line
// errors in-band: "\377\0c" is byte c received with a parity or framing error, "\377\0\0" is a
// break, and a real 0xFF byte arrives doubled as "\377\377". A mark may be split across two
// reads, so the decoder keeps its state between calls. Unmarked, for a line that reports its
// errors out of band (a serial server), every byte is data as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drv::posix {

enum class InputKind { kData, kLineError, kBreak };

class MarkedInputDecoder {
 public:
  // Calls sink(InputKind, byte) for every decoded item, in order.
  template <typename Sink>
  void Feed(const std::uint8_t* bytes, std::size_t n, Sink&& sink) {
    for (std::size_t i = 0; i < n; ++i) Step(bytes[i], sink);
  }
  void Reset() { state_ = State::kPlain; }
  void SetMarked(bool marked) {
    marked_ = marked;
    Reset();
  }
  bool Marked() const { return marked_; }
  // True when no mark sequence is open: then every byte but 0xFF (when marked) is data as it
  // is, which lets a caller copy such runs without stepping through them.
  bool BetweenItems() const { return !marked_ || state_ == State::kPlain; }

  template <typename Sink>
  void Step(std::uint8_t b, Sink& sink) {
    if (!marked_) {
      sink(InputKind::kData, b);
      return;
    }
    switch (state_) {
      case State::kPlain:
        if (b == 0xFF) {
          state_ = State::kAfterMark;
        } else {
          sink(InputKind::kData, b);
        }
        return;
      case State::kAfterMark:
        if (b == 0xFF) {
          state_ = State::kPlain;
          sink(InputKind::kData, std::uint8_t{0xFF});
        } else if (b == 0x00) {
          state_ = State::kAfterMarkZero;
        } else {
          // Not a sequence the line discipline produces; keep both bytes rather than lose one.
          state_ = State::kPlain;
          sink(InputKind::kData, std::uint8_t{0xFF});
          sink(InputKind::kData, b);
        }
        return;
      case State::kAfterMarkZero:
        state_ = State::kPlain;
        // Linux marks a framing error on a zero byte exactly like a break; a break is the
        // likelier cause, and both are line errors.
        sink(b == 0 ? InputKind::kBreak : InputKind::kLineError, b);
        return;
    }
  }

 private:
  enum class State { kPlain, kAfterMark, kAfterMarkZero };

  State state_ = State::kPlain;
  bool marked_ = true;
};

}  // namespace drv::posix
