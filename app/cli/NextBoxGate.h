// Between two Boxes of a port that takes Box after Box (--loop). A Box that has ended may still
// be on and talking (it never reached its prompt, or has not been switched off yet); what it
// says must not start a new Box. The next Box starts only once the line has been quiet for
// kQuietSeconds (the Box was switched off; the silence the ended Box's run heard before it
// closed the port counts), or at once when the port's device has come back
// after it went away (a USB adapter plugged in again, a serial server restarted), which is
// looked for once a second. Meanwhile the port is held open by the window's port component
// without its handlers, so nothing is sent to the Box, and its row says what the port waits for;
// once the next Box may start it is left open for the window's "Open COM".
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/Unit1.h"
#include "app/cli/CliOptions.h"
#include "app/cli/PortNotes.h"
#include "app/cli/RunReport.h"
#include "gui/headless/HeadlessBackend.h"

namespace cli {

class NextBoxGate {
 public:
  static constexpr int kQuietSeconds = 2;

  NextBoxGate(gui::headless::HeadlessBackend& backend, const CliOptions& options, RunReport& report,
              PortNotes& notes, std::function<bool()> interrupted);

  // afterBox: a Box has just ended on the port (else the port could not be opened for the
  // next one); lastHeard: when that Box last said something. True when the next Box may
  // start, false when interrupted meanwhile.
  bool Wait(TForm1& form, const std::string& device, bool afterBox,
            std::optional<std::chrono::steady_clock::time_point> lastHeard);
  // While the gate has the port, an error box or a background failure is the device going
  // away, not a Box's failure.
  bool Active() const { return active_; }
  void NoteFailure() { failed_ = true; }

 private:
  using Clock = std::chrono::steady_clock;
  bool TryOpen(TForm1& form);
  void Close(TForm1& form);
  void Drain(TForm1& form, int count);
  void Say(const std::string& status);

  gui::headless::HeadlessBackend& backend_;
  const CliOptions& options_;
  RunReport& report_;
  PortNotes& notes_;
  std::function<bool()> interrupted_;
  bool active_ = false;
  bool failed_ = false;
  unsigned heard_ = 0;
  Clock::time_point heardAt_;
};

}  // namespace cli
