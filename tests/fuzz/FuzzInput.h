// Takes a fuzzer's input apart into the choices a target needs. Running out of bytes gives
// zeros, so every input, however short, is a valid run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  std::size_t Left() const { return size_ - at_; }

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  // 0 .. n-1 (n > 0).
  std::uint32_t Below(std::uint32_t n) { return U32() % n; }
  // Up to n bytes of what is left.
  std::string_view Bytes(std::size_t n) {
    if (n > Left()) n = Left();
    std::string_view s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string_view Rest() { return Bytes(Left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace fuzz

// A broken invariant: say which and stop, so the fuzzer keeps the input that did it.
#define FUZZ_CHECK(cond, ...)                                  \
  do {                                                         \
    if (!(cond)) {                                             \
      std::fprintf(stderr, "invariant broken: %s\n  ", #cond); \
      std::fprintf(stderr, __VA_ARGS__);                       \
      std::fprintf(stderr, "\n");                              \
      std::abort();                                            \
    }                                                          \
  } while (0)
