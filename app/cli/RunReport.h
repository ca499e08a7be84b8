// Where a port's run tells what happens: printed for a person (TextReport) or sent to the parent
// process as events (EventReport). The window's own progress arrives through the RunObserver
// side; the rest is what the autopilot and the port's run add around it.
#pragma once

#include <string>

#include "app/RunObserver.h"

namespace cli {

class RunReport : public app::RunObserver {
 public:
  // The port about to be opened and the device it leads to.
  virtual void PortChosen(const std::string& port, const std::string& device) = 0;
  virtual void EraseChosen(bool withConfiguration) = 0;
  // The run closed the port it had opened.
  virtual void PortClosed() = 0;
  // What the window would have shown in its error box.
  virtual void ErrorBox(const std::string& caption, const std::string& text) = 0;
  // Something that went wrong beside the Box (a record that could not be written).
  virtual void Problem(const std::string& text) = 0;
  // One Box's run ended with this exit status; message: the result or what went wrong. Said a
  // second time for the same Box, with kExitRecordFailed, when its record could not be written.
  virtual void Finished(int status, const std::string& message) = 0;
  // A Box has been counted: the erases so far that completed (their range read back erased),
  // that could not be verified, and the rest, which failed.
  virtual void Counted(int done, int failed, int unverified) = 0;
  // The port's last Box has ended, with the same counts.
  virtual void Ended(int status, int done, int failed, int unverified) = 0;
};

}  // namespace cli
