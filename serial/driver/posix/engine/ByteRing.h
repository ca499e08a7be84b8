// The receive queue's storage: one contiguous block used as a ring, so that an arrival and a
// read move whole runs with at most two memcpy calls each. The block grows (to a power of two)
// when the content needs it and never shrinks, so a steady stream allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drv::posix {

class ByteRing {
 public:
  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return block_.size(); }

  // Room for `more` bytes beyond Size(), so that the appends that follow do not reallocate.
  void Reserve(std::size_t more) {
    if (block_.size() - size_ < more) Grow(size_ + more);
  }
  void Append(const std::uint8_t* bytes, std::size_t n);
  void Push(std::uint8_t b) {
    if (size_ == block_.size()) Grow(size_ + 1);
    block_[(head_ + size_) & (block_.size() - 1)] = b;
    ++size_;
  }
  // Moves the oldest min(max, Size()) bytes to dst; returns how many.
  std::size_t Take(std::uint8_t* dst, std::size_t max);
  void Clear() {
    head_ = 0;
    size_ = 0;
  }

 private:
  void Grow(std::size_t atLeast);

  std::vector<std::uint8_t> block_;  // empty or a power of two long
  std::size_t head_ = 0;             // index of the oldest byte
  std::size_t size_ = 0;
};

}  // namespace drv::posix
