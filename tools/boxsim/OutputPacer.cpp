#include "tools/boxsim/OutputPacer.h"

#include <algorithm>

namespace boxsim {

OutputPacer::OutputPacer(int baud, bool chunkRandom, std::uint32_t seed)
    : chunkRandom_(chunkRandom), random_(seed) {
  // Ten bits a byte: start, eight data, stop.
  if (baud > 0) byteTime_ = std::chrono::nanoseconds(10'000'000'000LL / baud);
  if (chunkRandom_) NewChunk(Clock::time_point{});
}

void OutputPacer::Append(const std::string& bytes, Clock::time_point now) {
  // An idle line earns no credit: the first byte after a pause starts its time now.
  if (queue_.empty() && creditFrom_ < now) creditFrom_ = now;
  queue_ += bytes;
}

std::size_t OutputPacer::Due(Clock::time_point now) const {
  if (queue_.empty() || now < readyAt_) return 0;
  std::size_t n = queue_.size();
  if (byteTime_.count() > 0) {
    if (now < creditFrom_ + byteTime_) return 0;
    n = std::min<std::size_t>(n, static_cast<std::size_t>((now - creditFrom_) / byteTime_));
  }
  if (chunkRandom_) n = std::min(n, chunkLeft_);
  return n;
}

void OutputPacer::Consumed(std::size_t n, Clock::time_point now) {
  queue_.erase(0, n);
  if (byteTime_.count() > 0) creditFrom_ += byteTime_ * static_cast<long>(n);
  if (chunkRandom_) {
    chunkLeft_ -= std::min(chunkLeft_, n);
    if (chunkLeft_ == 0) NewChunk(now);
  }
}

std::optional<OutputPacer::Clock::time_point> OutputPacer::NextDeadline(
    Clock::time_point now) const {
  if (queue_.empty()) return std::nullopt;
  Clock::time_point at = std::max(now, readyAt_);
  if (byteTime_.count() > 0) at = std::max(at, creditFrom_ + byteTime_);
  return at;
}

void OutputPacer::NewChunk(Clock::time_point now) {
  // Pieces of 1..24 bytes with pauses of 1..4 ms: long enough that the reader's side sees each
  // piece on its own, short enough that a whole boot stays quick.
  chunkLeft_ = std::uniform_int_distribution<std::size_t>(1, 24)(random_);
  readyAt_ =
      now + std::chrono::microseconds(std::uniform_int_distribution<int>(1000, 4000)(random_));
}

}  // namespace boxsim
