// What the Box sends, queued and let out at the pace of the simulated line: all at once, at a
// baud rate, or in pieces of random size separated by short pauses (so the reader sees many
// small reads with prompts and line ends split anywhere).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <random>
#include <string>

namespace boxsim {

class OutputPacer {
 public:
  using Clock = std::chrono::steady_clock;

  OutputPacer(int baud, bool chunkRandom, std::uint32_t seed);

  void Append(const std::string& bytes, Clock::time_point now);
  void Drop() { queue_.clear(); }
  bool Empty() const { return queue_.empty(); }
  // How many of the queued bytes may go out now, and the bytes themselves.
  std::size_t Due(Clock::time_point now) const;
  const char* Data() const { return queue_.data(); }
  // Tells that n bytes went out at `now`.
  void Consumed(std::size_t n, Clock::time_point now);
  // When Due() will next be non-zero; empty while the queue is empty.
  std::optional<Clock::time_point> NextDeadline(Clock::time_point now) const;

 private:
  void NewChunk(Clock::time_point now);

  std::string queue_;
  Clock::duration byteTime_{};
  Clock::time_point creditFrom_{};  // with a baud rate: when the next byte's time starts
  bool chunkRandom_;
  std::size_t chunkLeft_ = 0;
  Clock::time_point readyAt_{};
  std::mt19937 random_;
};

}  // namespace boxsim
