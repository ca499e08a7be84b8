// The event stream from a port's worker process to the parent: one JSON object a line, each a
// typed event. The parent trusts nothing in it: a line that is not a well-formed event is
// reported and skipped, and a line that never ends is cut off at a bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/RunObserver.h"

namespace cli {

struct WorkerEvent {
  enum class Kind { Port, Progress, Erase, PortClosed, ErrorBox, Problem, Box, Counts, End };
  Kind kind = Kind::Progress;
  std::string port, device;                    // Port: as given, and the device it leads to
  app::RunStep step = app::RunStep::Prepared;  // Progress
  std::string status, state;                   // Progress: the status text and the state word
  bool withConfiguration = false;              // Erase
  std::string caption;                         // ErrorBox
  std::string text;                            // ErrorBox, Problem; Box: the run's last word
  int exitStatus = 0;                          // Box: that Box's; End: the port's
  int done = 0, failed = 0, unverified = 0;    // Counts, End
};

// One line, line feed included.
std::string EncodeEvent(const WorkerEvent& event);
// False with the reason when the line is not a well-formed event.
bool ParseEvent(std::string_view line, WorkerEvent& event, std::string& error);

// Cuts a byte stream into lines.
class EventLineSplitter {
 public:
  explicit EventLineSplitter(std::size_t maxLine = 64 * 1024) : maxLine_(maxLine) {}
  // Appends bytes; returns the lines they completed (without line feeds). A line longer than
  // the bound is dropped whole and counted in Overlong().
  std::vector<std::string> Feed(std::string_view bytes);
  // Bytes of a line not yet ended (at the end of the stream: a worker that stopped mid-line).
  bool Pending() const { return !partial_.empty() || skipping_; }
  int Overlong() const { return overlong_; }

 private:
  std::size_t maxLine_;
  std::string partial_;
  bool skipping_ = false;
  int overlong_ = 0;
};

}  // namespace cli
