// What an erase run shows and exchanges with the Box, as typed notifications for whoever runs the
// window without looking at it (the command line, its worker processes): the status text and the
// state word whenever the window sets them, with the step of the run that set them; the text the
// receive handler scanned; and the bytes written to the Box.
#pragma once

#include <string>
#include <string_view>

#include "app/EraseVerdict.h"

namespace app {

// The step whose entering action set the status text. Prepared: nothing has been set yet.
// Checking: the erased range is being read back. Complete: the completion wait has ended,
// whatever the erase's result.
enum class RunStep { Prepared, PortOpened, Waking, Ready, Erasing, Checking, Complete, PortClosed };

// A stable lower-case name ("port-opened", ...) and back; false for an unknown name.
const char* RunStepName(RunStep step);
bool RunStepFromName(std::string_view name, RunStep& step);

struct RunProgress {
  RunStep step = RunStep::Prepared;
  std::string status;  // the status bar's text
  std::string state;   // the state word: PREPARED, WORKING, COMPLETE, FAILED or UNVERIFIED
};

// Called on the GUI thread, inside the handlers; an observer must not raise and must not run the
// message loop, so it cannot change the run it watches.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The status text or the state word was set (possibly to the text it already had).
  virtual void Progressed(const RunProgress& progress) { (void)progress; }
  // A piece of what the Box sent, after the receive handler has scanned it.
  virtual void Received(std::string_view text) { (void)text; }
  // Written to the Box and completed: a wake-up line feed, the erase command line, the read-back
  // command, the display's correction, each followed by its line feed.
  virtual void Sent(std::string_view bytes) { (void)bytes; }
  // The erase's result is known (also when the port was closed before the read-back ended).
  virtual void Checked(const EraseVerdict& verdict) { (void)verdict; }
};

}  // namespace app
