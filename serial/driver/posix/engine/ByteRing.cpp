#include "serial/driver/posix/engine/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace drv::posix {

void ByteRing::Grow(std::size_t atLeast) {
  std::size_t capacity = std::max<std::size_t>(block_.size(), 256);
  while (capacity < atLeast) capacity *= 2;
  std::vector<std::uint8_t> bigger(capacity);
  // The content moves to the front of the new block, oldest byte first.
  const std::size_t size = size_;
  Take(bigger.data(), size);
  block_.swap(bigger);
  head_ = 0;
  size_ = size;
}

void ByteRing::Append(const std::uint8_t* bytes, std::size_t n) {
  if (n == 0) return;
  Reserve(n);
  const std::size_t mask = block_.size() - 1;
  const std::size_t tail = (head_ + size_) & mask;
  const std::size_t first = std::min(n, block_.size() - tail);
  std::memcpy(block_.data() + tail, bytes, first);
  std::memcpy(block_.data(), bytes + first, n - first);
  size_ += n;
}

std::size_t ByteRing::Take(std::uint8_t* dst, std::size_t max) {
  const std::size_t n = std::min(max, size_);
  if (n == 0) return 0;
  const std::size_t first = std::min(n, block_.size() - head_);
  std::memcpy(dst, block_.data() + head_, first);
  std::memcpy(dst + first, block_.data(), n - first);
  head_ = (head_ + n) & (block_.size() - 1);
  size_ -= n;
  return n;
}

}  // namespace drv::posix
