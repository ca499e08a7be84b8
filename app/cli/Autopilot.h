// Drives the main window's handlers as a technician would, on the headless backend: "Open
// COM", wait for "Receiver connected", tick "Include configuration" if asked, "Erase users
// data", wait until the port has closed. Prints every status text and state word as it
// changes, with the time since the start. Between events it sleeps in the loop until
// something happens, the time limit, the silence limit or an interrupt: it wakes for nothing else.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/Unit1.h"
#include "app/cli/CliOptions.h"
#include "gui/headless/HeadlessBackend.h"

namespace cli {

class Autopilot {
 public:
  // interrupted: whether Ctrl-C (or SIGTERM) has come; whoever sets it wakes the main loop.
  Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend, const CliOptions& options,
            std::ostream& out, std::ostream& err, std::function<bool()> interrupted);

  // Runs the whole erase and closes the window; returns the exit status.
  int Run();
  // An error box or a background failure was shown: the run has failed.
  void NoteFailure() { failed_ = true; }
  // Prints a change of the status text or the state word (the control's peer calls this).
  void Changed();

 private:
  using Clock = std::chrono::steady_clock;
  enum class Wait { Reached, Failed, TimedOut, Stalled, Interrupted };
  // silenceCounts: whether the Box is expected to talk now, so that --stall applies.
  Wait WaitFor(const std::function<bool()>& reached, const std::function<bool()>& silenceCounts);
  void WatchReceiving();
  void Print(const std::string& line);
  double Elapsed() const;
  int Finish(int status, const std::string& message);

  TForm1& form_;
  gui::headless::HeadlessBackend& backend_;
  const CliOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  std::function<bool()> interrupted_;
  Clock::time_point start_;
  // When the Box last sent something (or the erase line went out): where silence is measured from.
  std::optional<Clock::time_point> heardAt_;
  std::string lastStatus_, lastState_;
  bool failed_ = false;
};

}  // namespace cli
