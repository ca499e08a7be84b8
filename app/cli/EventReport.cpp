#include "app/cli/EventReport.h"

#include "app/cli/PortName.h"

namespace cli {

void EventReport::Emit(const WorkerEvent& event) {
  const std::string line = EncodeEvent(event);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

void EventReport::Progressed(const app::RunProgress& progress) {
  // A text set again unchanged is no news to the parent.
  if (progressSent_ && progress.step == last_.step && progress.status == last_.status &&
      progress.state == last_.state) {
    return;
  }
  progressSent_ = true;
  last_ = progress;
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Progress;
  e.step = progress.step;
  e.status = progress.status;
  e.state = progress.state;
  Emit(e);
}

void EventReport::PortChosen(const std::string& port, const std::string& device) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Port;
  // Escaped here: the stream is JSON, which would carry other bytes only as replacements.
  e.port = ShownName(port);
  e.device = ShownName(device);
  Emit(e);
}

void EventReport::EraseChosen(bool withConfiguration) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Erase;
  e.withConfiguration = withConfiguration;
  Emit(e);
}

void EventReport::PortClosed() {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::PortClosed;
  Emit(e);
}

void EventReport::ErrorBox(const std::string& caption, const std::string& text) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::ErrorBox;
  e.caption = caption;
  e.text = text;
  Emit(e);
}

void EventReport::Problem(const std::string& text) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Problem;
  e.text = text;
  Emit(e);
}

void EventReport::Finished(int status, const std::string& message) {
  // The next Box starts from the window's first texts again.
  progressSent_ = false;
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Box;
  e.exitStatus = status;
  e.text = message;
  Emit(e);
}

void EventReport::Counted(int done, int failed, int unverified) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::Counts;
  e.done = done;
  e.failed = failed;
  e.unverified = unverified;
  Emit(e);
}

void EventReport::Ended(int status, int done, int failed, int unverified) {
  WorkerEvent e;
  e.kind = WorkerEvent::Kind::End;
  e.exitStatus = status;
  e.done = done;
  e.failed = failed;
  e.unverified = unverified;
  Emit(e);
}

}  // namespace cli
