#include "app/cli/LineView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "app/cli/CliOptions.h"

namespace cli {

namespace {

std::string Padded(std::string text, std::size_t width) {
  if (text.size() > width) text.resize(width);
  text.append(width - text.size(), ' ');
  return text;
}

std::string RightAligned(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Duration(double seconds) {
  const long whole = static_cast<long>(std::floor(std::max(0.0, seconds)));
  char text[32];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lds", whole);
  } else {
    std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

LineView::LineView(std::ostream& out, std::ostream& err, Mode mode, std::vector<std::string> ports)
    : out_(out), err_(err), mode_(mode) {
  for (std::string& port : ports) {
    Row row;
    row.port = std::move(port);
    rows_.push_back(std::move(row));
  }
}

bool LineView::StepTimeRuns(app::RunStep step) {
  // A port that waits for its Box (or has nothing more to do) shows no running time, so that
  // the table has no reason to be drawn while every port waits.
  switch (step) {
    case app::RunStep::Waking:
    case app::RunStep::Ready:
    case app::RunStep::Erasing:
    case app::RunStep::Checking:
    case app::RunStep::Complete:
      return true;
    default:
      return false;
  }
}

void LineView::Say(std::size_t i, const std::string& text, double now) {
  if (mode_ != Mode::Lines) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", now);
  out_ << stamp << rows_[i].port << ": " << text << std::endl;
}

void LineView::Complain(std::size_t i, const std::string& text) {
  Message(rows_[i].port + ": " + text);
}

void LineView::Message(const std::string& text) {
  if (mode_ == Mode::Table && !shown_.empty()) {
    // The table is taken off the screen, the message written where it began, and the table
    // drawn again under it at the next Draw: text written under a live table would tear it.
    out_ << "\x1b[" << shown_.size() << "F\x1b[J" << std::flush;
    shown_.clear();
  }
  err_ << "zanowipe-cli: " << text << std::endl;
}

void LineView::Note(std::size_t i, const std::string& text) {
  Complain(i, text);
}

void LineView::Notice(const std::string& text) {
  Message(text);
}

void LineView::Apply(std::size_t i, const WorkerEvent& e, double now) {
  Row& row = rows_.at(i);
  using Kind = WorkerEvent::Kind;
  switch (e.kind) {
    case Kind::Port:
      row.device = e.device;
      Say(i, "port:   " + e.port + (e.device != e.port ? " (" + e.device + ")" : ""), now);
      break;
    case Kind::Progress:
      if (e.step != row.step) {
        row.step = e.step;
        row.stepSince = now;
      }
      if (e.status != row.status) {
        row.status = e.status;
        Say(i, "status: " + e.status, now);
      }
      if (e.state != row.state) {
        row.state = e.state;
        Say(i, "state:  " + e.state, now);
      }
      break;
    case Kind::Erase:
      Say(i,
          std::string("erase:  ") +
              (e.withConfiguration ? "user data and configuration" : "user data"),
          now);
      break;
    case Kind::PortClosed:
      Say(i, "port:   closed", now);
      break;
    case Kind::ErrorBox:
      Complain(i, "error box [" + e.caption + "]: " + e.text);
      break;
    case Kind::Problem:
      Complain(i, e.text);
      break;
    case Kind::Box:
      row.last = e.exitStatus == kExitComplete ? std::string("COMPLETE") : e.text;
      if (e.exitStatus != kExitComplete && e.exitStatus != kExitFailed &&
          e.exitStatus != kExitUnverified) {
        Complain(i, e.text);
      } else if (mode_ == Mode::Lines) {
        Say(i, e.text, now);
      } else if (mode_ == Mode::Quiet) {
        out_ << row.port << ": " << e.text << std::endl;
      }
      break;
    case Kind::Counts:
      row.done = e.done;
      row.failed = e.failed;
      row.unverified = e.unverified;
      break;
    case Kind::End:
      row.done = e.done;
      row.failed = e.failed;
      row.unverified = e.unverified;
      row.ended = true;
      row.endStatus = e.exitStatus;
      break;
  }
}

void LineView::Problem(std::size_t i, const std::string& text, double) {
  rows_.at(i).last = text;
  Complain(i, text);
}

std::vector<std::string> LineView::TableLines(double now, int columns) const {
  std::size_t portWidth = 4;
  std::size_t statusWidth = 6;
  for (const Row& row : rows_) {
    portWidth = std::max(
        portWidth, row.port.size() +
                       (row.device.empty() || row.device == row.port ? 0 : row.device.size() + 1));
    statusWidth = std::max(statusWidth, row.status.size());
  }
  portWidth = std::min<std::size_t>(portWidth, 40);
  statusWidth = std::min<std::size_t>(statusWidth, 48);
  auto line = [&](const std::string& port, const std::string& state, const std::string& time,
                  const std::string& done, const std::string& failed, const std::string& unverified,
                  const std::string& status, const std::string& last) {
    std::string text = Padded(port, portWidth) + "  " + Padded(state, 10) + "  " +
                       RightAligned(time, 7) + "  " + RightAligned(done, 4) + "  " +
                       RightAligned(failed, 6) + "  " + RightAligned(unverified, 10) + "  " +
                       Padded(status, statusWidth) + "  " + last;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    // The last column is left free: a line that fills it makes some terminals wrap.
    const std::size_t width = static_cast<std::size_t>(std::max(columns, 20) - 1);
    if (text.size() > width) text.resize(width);
    return text;
  };
  std::vector<std::string> lines;
  lines.push_back(
      line("PORT", "STATE", "IN STEP", "DONE", "FAILED", "UNVERIFIED", "STATUS", "LAST BOX"));
  for (const Row& row : rows_) {
    const std::string port =
        row.device.empty() || row.device == row.port ? row.port : row.port + " " + row.device;
    const bool runs = StepTimeRuns(row.step) && !row.ended;
    lines.push_back(line(port, row.ended ? "ended" : row.state,
                         runs ? Duration(now - row.stepSince) : "-", std::to_string(row.done),
                         std::to_string(row.failed), std::to_string(row.unverified), row.status,
                         row.last));
  }
  return lines;
}

bool LineView::Draw(double now, int columns) {
  if (mode_ != Mode::Table) return false;
  std::vector<std::string> lines = TableLines(now, columns);
  if (lines == shown_) return false;
  std::string frame;
  // Back to the table's first line, then every line written over.
  if (!shown_.empty()) frame += "\x1b[" + std::to_string(shown_.size()) + "F";
  for (const std::string& line : lines) frame += "\x1b[2K" + line + "\n";
  out_ << frame << std::flush;
  shown_ = std::move(lines);
  ++frames_;
  return true;
}

double LineView::NextTick(double now) const {
  if (mode_ != Mode::Table) return -1;
  double next = -1;
  for (const Row& row : rows_) {
    if (row.ended || !StepTimeRuns(row.step)) continue;
    const double shown = std::floor(std::max(0.0, now - row.stepSince));
    const double at = row.stepSince + shown + 1;
    if (next < 0 || at < next) next = at;
  }
  return next;
}

void LineView::Finish(double now, int columns) {
  Draw(now, columns);
  for (const Row& row : rows_) {
    out_ << "Summary: " << row.port
         << (row.device.empty() || row.device == row.port ? "" : " (" + row.device + ")") << ": "
         << row.done << " done, " << row.failed << " failed, " << row.unverified << " unverified";
    // A port that ended on a failure of its own (it did not open, its device went away, its
    // worker died) says which.
    const bool result = row.endStatus == kExitComplete || row.endStatus == kExitFailed ||
                        row.endStatus == kExitUnverified || row.endStatus == kExitInterrupted;
    if (row.ended && !result && !row.last.empty()) out_ << " (" << row.last << ")";
    out_ << std::endl;
  }
}

}  // namespace cli
