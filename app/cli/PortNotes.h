// What the serial layer says on standard error while a port opens, such as a serial server's
// note that it did not confirm a setting: a port that is opened Box after Box would say the
// same every time. Each kind of note about the port's device (its first words) is passed on once
// for the port, everything else as it came. (In a line's worker, standard error leads to the
// parent, which shows it.)
#pragma once

#include <functional>
#include <set>
#include <string>

namespace cli {

class PortNotes {
 public:
  // The device the port leads to, as the serial layer names it in its notes.
  void SetDevice(const std::string& device) { prefix_ = device + ": "; }
  // Runs `open` with standard error collected, then passes on what it said.
  void Around(const std::function<void()>& open);

 private:
  std::string prefix_;
  std::set<std::string> said_;
};

// Runs `run` with what is written to standard error kept (on POSIX; elsewhere it goes straight
// out) and returns it. Bounded by what a pipe holds: beyond that, writes to standard error fail.
std::string CaptureStandardError(const std::function<void()>& run);

}  // namespace cli
