// Drives the main window's handlers as a technician would, on the headless backend: "Open
// COM", wait for "Receiver connected", tick "Include configuration" if asked, "Erase users
// data", wait until the port has closed. Prints every status text and state word as it
// changes, with the time since the start.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>

#include "app/Unit1.h"
#include "app/cli/CliOptions.h"
#include "gui/headless/HeadlessBackend.h"

namespace cli {

class Autopilot {
 public:
  Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend, const CliOptions& options,
            std::ostream& out, std::ostream& err, const volatile std::sig_atomic_t& interrupted);

  // Runs the whole erase and closes the window; returns the exit status.
  int Run();
  // An error box or a background failure was shown: the run has failed.
  void NoteFailure() { failed_ = true; }
  // Prints a change of the status text or the state word (the control's peer calls this).
  void Changed();

 private:
  enum class Wait { Reached, Failed, TimedOut, Interrupted };
  Wait WaitFor(const std::function<bool()>& reached);
  void Print(const std::string& line);
  double Elapsed() const;
  int Finish(int status, const std::string& message);

  TForm1& form_;
  gui::headless::HeadlessBackend& backend_;
  const CliOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  const volatile std::sig_atomic_t& interrupted_;
  std::chrono::steady_clock::time_point start_;
  std::string lastStatus_, lastState_;
  bool failed_ = false;
  int savedIndex_ = -1;
};

}  // namespace cli
