// Drives the main window's handlers as a technician would, on the headless backend: "Open
// COM", wait for "Receiver connected", tick "Include configuration" if asked, "Erase users
// data", wait until the range has been read back and the port has closed. Tells its report every
// status text and state word as it changes. Between events it sleeps in the loop until something
// happens, the time limit, the silence limit or an interrupt: it wakes for nothing else.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "app/Unit1.h"
#include "app/cli/CliOptions.h"
#include "app/cli/PortNotes.h"
#include "app/cli/RunReport.h"
#include "gui/headless/HeadlessBackend.h"

namespace cli {

class Autopilot {
 public:
  // interrupted: whether Ctrl-C (or SIGTERM) has come; whoever sets it wakes the main loop.
  // Unless the form already has an observer, the report becomes it for the run. notes: what
  // the serial layer says while the port opens goes through it (said once a port).
  Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend, const CliOptions& options,
            RunReport& report, std::function<bool()> interrupted, PortNotes* notes = nullptr);
  // Prints to these streams, as a run on a single port does.
  Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend, const CliOptions& options,
            std::ostream& out, std::ostream& err, std::function<bool()> interrupted);
  ~Autopilot();

  // Runs the whole erase and closes the window; returns the exit status.
  int Run();
  // An error box or a background failure was shown, with this text: the run has failed, unless
  // the erase's result was already known.
  void NoteFailure(const std::string& text = std::string()) {
    if (!failed_) failure_ = text;
    failed_ = true;
  }
  // Whether the port opened (a port that cannot be opened is not worth waiting on again).
  bool Opened() const { return opened_; }
  // The run's last word: its result, or what went wrong.
  const std::string& Message() const { return message_; }
  // When the Box last sent something: the line has been quiet since.
  std::optional<std::chrono::steady_clock::time_point> LastReceived() const {
    return lastReceived_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Wait { Reached, Failed, TimedOut, Stalled, Interrupted };
  // silenceCounts: whether the Box is expected to talk now, so that --stall applies.
  Wait WaitFor(const std::function<bool()>& reached, const std::function<bool()>& silenceCounts);
  void WatchReceiving();
  int Finish(int status, const std::string& message);

  TForm1& form_;
  gui::headless::HeadlessBackend& backend_;
  const CliOptions& options_;
  std::unique_ptr<RunReport> ownReport_;
  RunReport& report_;
  std::function<bool()> interrupted_;
  PortNotes* notes_ = nullptr;
  Clock::time_point start_;
  // When the Box last sent something (or the erase line went out): where silence is measured from.
  std::optional<Clock::time_point> heardAt_;
  // The Box's first word: with --loop, where its time limit is counted from.
  std::optional<Clock::time_point> firstHeard_;
  std::optional<Clock::time_point> lastReceived_;
  bool failed_ = false;
  std::string failure_;
  bool opened_ = false;
  std::string message_;
};

}  // namespace cli
