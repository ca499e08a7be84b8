// The Box's console commands: runs one received line, command by command, with an erase taking
// its time sector by sector and a crc32 its time by the megabyte. Knows nothing of the line or
// the clock's source; the Box drives it.
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

// How a console's crc32 command misbehaves.
enum class Crc32Fault {
  None,
  Missing,     // the console has no such command
  Silent,      // the console hangs after the command's echo: no answer, no prompt, ever
  Reboot,      // the Box starts again after the command's echo
  WrongRange,  // the answer names a range one sector further on (the sum is the asked range's)
  Garbage,     // line noise stands before the answer's "==> "
};

struct ConsoleSettings {
  std::chrono::milliseconds sectorTime{0};
  int crcMsPerMiB = 0;
  bool upperHex = false;  // hexadecimal digits of the crc32 answer in upper case
  // The erase skips protected sectors with a warning instead of refusing the command.
  bool skipProtected = false;
  Crc32Fault crc32Fault = Crc32Fault::None;
};

class Console {
 public:
  using Sink = std::function<void(const std::string&)>;
  // Asked before each sector of an erase (sectors done, sectors in all); false holds the erase
  // where it is, for good.
  using SectorGate = std::function<bool(std::uint32_t done, std::uint32_t total)>;

  // `print` receives text with "\n" line ends; `log` gets one line per notable act.
  Console(Flash& flash, const ConsoleSettings& settings, Sink print, Sink log,
          SectorGate gate = {});

  // Queues the commands of one line (separated by ';') and starts running them.
  void RunLine(const std::string& line, Clock::time_point now);
  // Runs whatever is due; the line is done when Busy() turns false.
  void Advance(Clock::time_point now);
  bool Busy() const {
    return !commands_.empty() || erase_.has_value() || crc_.has_value() || hung_;
  }
  std::optional<Clock::time_point> NextDeadline() const;
  // Forgets the line that runs (the Box lost its power); the flash keeps what was done.
  void Reset();
  // A command asked for the Box to start again; true once per request.
  bool TakeRebootRequest();
  // Whether a crc32 has answered since the last call.
  bool TakeCrcAnswered();

 private:
  struct EraseJob {
    std::uint32_t first, last, next;
    Clock::time_point due;
  };
  struct CrcJob {
    std::uint32_t start, count;
    Clock::time_point due;
  };
  void Execute(const std::string& command, Clock::time_point now);
  void Protect(const std::string& how, const std::string& a, const std::string& b);
  void StartErase(const std::string& a, const std::string& b, Clock::time_point now);
  void StartCrc(const std::string& a, const std::string& b, Clock::time_point now);
  void FinishCrc();
  bool ParseRange(const std::string& a, const std::string& b, std::uint32_t& first,
                  std::uint32_t& last);
  std::string HexOut(std::uint32_t value) const;

  Flash& flash_;
  ConsoleSettings settings_;
  Sink print_, log_;
  SectorGate gate_;
  bool held_ = false;
  bool hung_ = false;
  bool rebootRequested_ = false;
  std::deque<std::string> commands_;
  std::optional<EraseJob> erase_;
  std::optional<CrcJob> crc_;
  bool crcAnswered_ = false;
};

}  // namespace boxsim
