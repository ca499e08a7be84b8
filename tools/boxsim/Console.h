// The Box's console commands: runs one received line, command by command, with an erase taking
// its time sector by sector. Knows nothing of the line or the clock's source; the Box drives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "tools/boxsim/Flash.h"

namespace boxsim {

using Clock = std::chrono::steady_clock;

class Console {
 public:
  using Sink = std::function<void(const std::string&)>;
  // Asked before each sector of an erase (sectors done, sectors in all); false holds the erase
  // where it is, for good.
  using SectorGate = std::function<bool(std::uint32_t done, std::uint32_t total)>;

  // `print` receives text with "\n" line ends; `log` gets one line per notable act.
  Console(Flash& flash, std::chrono::milliseconds sectorTime, Sink print, Sink log,
          SectorGate gate = {});

  // Queues the commands of one line (separated by ';') and starts running them.
  void RunLine(const std::string& line, Clock::time_point now);
  // Runs whatever is due; the line is done when Busy() turns false.
  void Advance(Clock::time_point now);
  bool Busy() const { return !commands_.empty() || erase_.has_value(); }
  std::optional<Clock::time_point> NextDeadline() const;
  // Forgets the line that runs (the Box lost its power); the flash keeps what was done.
  void Reset();

 private:
  struct EraseJob {
    std::uint32_t first, last, next;
    Clock::time_point due;
  };
  void Execute(const std::string& command, Clock::time_point now);
  void Protect(const std::string& how, const std::string& a, const std::string& b);
  void StartErase(const std::string& a, const std::string& b, Clock::time_point now);
  bool ParseRange(const std::string& a, const std::string& b, std::uint32_t& first,
                  std::uint32_t& last);

  Flash& flash_;
  std::chrono::milliseconds sectorTime_;
  Sink print_, log_;
  SectorGate gate_;
  bool held_ = false;
  std::deque<std::string> commands_;
  std::optional<EraseJob> erase_;
};

}  // namespace boxsim
