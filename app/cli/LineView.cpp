#include "app/cli/LineView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <ostream>

#include "app/ConsoleReply.h"
#include "app/cli/BoxRecord.h"
#include "app/cli/CliOptions.h"
#include "app/cli/PortName.h"

namespace cli {

namespace {

constexpr std::size_t kMaxLater = 1000;
constexpr std::size_t kMaxMessages = 16;

// Whatever reaches the terminal is printable: a worker's texts may carry a device's words.
std::string Shown(const std::string& text) {
  return app::ShownText(text, std::numeric_limits<std::size_t>::max());
}

std::string Duration(double seconds) {
  const long whole = static_cast<long>(std::floor(std::max(0.0, seconds)));
  char text[32];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lds", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%ldm%02lds", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ldh%02ldm", whole / 3600, whole / 60 % 60);
  }
  return text;
}

std::string PerHour(int boxes, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", boxes * 3600.0 / seconds);
  return text;
}

// How a Box ended, as its row shows it: the result word first, then the reason.
std::string LastBoxText(const WorkerEvent& e) {
  if (e.exitStatus == kExitComplete) return "COMPLETE";
  const std::string result = "Result: ";
  if (e.text.rfind(result, 0) == 0) return Shown(e.text.substr(result.size()));
  return std::string(ResultName(e.exitStatus)) + ": " + Shown(e.text);
}

}  // namespace

LineView::Mode LineView::ChooseMode(bool quiet, bool outputIsTerminal, const char* term) {
  if (quiet) return Mode::Quiet;
  if (!outputIsTerminal || term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
    return Mode::Lines;
  }
  return Mode::Table;
}

LineView::LineView(std::ostream& out, std::ostream& err, Mode mode,
                   const std::vector<std::string>& ports, std::string started)
    : out_(out), err_(err), mode_(mode), started_(std::move(started)) {
  for (const std::string& port : ports) {
    Row row;
    row.port = ShownName(port);
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
  Message(i, text);
}

void LineView::Message(std::size_t i, const std::string& text) {
  const bool wholeLine = i == PortMessage::kWholeLine;
  const std::string line = (wholeLine ? "" : rows_.at(i).port + ": ") + Shown(text);
  if (mode_ == Mode::Table) {
    // On the terminal now it would tear the table: under it, and in full when the line ends.
    if (messages_.size() >= kMaxMessages) messages_.erase(messages_.begin());
    messages_.push_back({i, Shown(text)});
    if (later_.size() < kMaxLater) later_.push_back(line);
    return;
  }
  err_ << "zanowipe-cli: " << line << std::endl;
}

void LineView::Note(std::size_t i, const std::string& text) {
  Message(i, text);
}

void LineView::Notice(const std::string& text) {
  Message(PortMessage::kWholeLine, text);
}

void LineView::Apply(std::size_t i, const WorkerEvent& e, double now) {
  Row& row = rows_.at(i);
  using Kind = WorkerEvent::Kind;
  switch (e.kind) {
    case Kind::Port: {
      row.device = ShownName(e.device);
      row.changedAt = now;
      const std::string port = ShownName(e.port);
      Say(i, "port:   " + port + (row.device != port ? " (" + row.device + ")" : ""), now);
      break;
    }
    case Kind::Progress: {
      if (e.step != row.step) {
        row.step = e.step;
        row.stepSince = now;
      }
      const std::string status = Shown(e.status);
      const std::string state = Shown(e.state);
      // A new Box's window starts with no status and no state: nothing to tell.
      if (status != row.status) {
        row.status = status;
        row.changedAt = now;
        if (!status.empty()) Say(i, "status: " + status, now);
      }
      if (state != row.state) {
        row.state = state;
        row.changedAt = now;
        if (!state.empty()) Say(i, "state:  " + state, now);
      }
      break;
    }
    case Kind::Erase:
      Say(i,
          std::string("erase:  ") +
              (e.withConfiguration ? "user data and configuration" : "user data"),
          now);
      break;
    case Kind::PortClosed:
      // The run closed a port the window had not (it stopped early): the window's last status
      // ("COM Port opened, ...") no longer holds.
      row.status = "port closed";
      row.changedAt = now;
      Say(i, "port:   closed", now);
      break;
    case Kind::ErrorBox:
      Complain(i, "error box [" + e.caption + "]: " + e.text);
      break;
    case Kind::Problem:
      Complain(i, e.text);
      break;
    case Kind::Box:
      row.pending = LastBoxText(e);
      row.pendingWhy = Shown(e.text);
      row.reason = row.pendingWhy;
      row.changedAt = now;
      if (e.exitStatus != kExitComplete && e.exitStatus != kExitFailed &&
          e.exitStatus != kExitUnverified) {
        Complain(i, e.text);
      } else if (mode_ == Mode::Lines) {
        Say(i, Shown(e.text), now);
      } else if (mode_ == Mode::Quiet) {
        out_ << row.port << ": " << Shown(e.text) << std::endl;
      }
      break;
    case Kind::Counts:
      row.done = e.done;
      row.failed = e.failed;
      row.unverified = e.unverified;
      // The Box just ended was counted: it is the port's last Box.
      if (!row.pending.empty()) row.last = std::move(row.pending);
      row.pending.clear();
      row.changedAt = now;
      lastBoxAt_ = now;
      break;
    case Kind::End:
      row.done = e.done;
      row.failed = e.failed;
      row.unverified = e.unverified;
      row.ended = true;
      row.endStatus = e.exitStatus;
      row.changedAt = now;
      // A run that ended without a Box (interrupted while waiting for one, a port that would
      // not open again) says why, in place of a status that no longer holds.
      if (!row.pending.empty()) row.status = row.pendingWhy;
      row.pending.clear();
      break;
  }
}

void LineView::Problem(std::size_t i, const std::string& text, double now) {
  rows_.at(i).status = Shown(text);
  rows_.at(i).reason = rows_.at(i).status;
  rows_.at(i).changedAt = now;
  Complain(i, text);
}

std::string LineView::TotalsLine() const {
  int done = 0, failed = 0, unverified = 0;
  for (const Row& row : rows_) {
    done += row.done;
    failed += row.failed;
    unverified += row.unverified;
  }
  std::string text = "Total: " + std::to_string(done) + " done, " + std::to_string(failed) +
                     " failed, " + std::to_string(unverified) + " unverified";
  const int boxes = done + failed + unverified;
  // The pace up to the last Box: a figure that holds still while every port waits.
  if (boxes > 0 && lastBoxAt_ > 0) text += "; " + PerHour(boxes, lastBoxAt_) + " Boxes an hour";
  if (!started_.empty()) text += "; started " + started_;
  return text;
}

std::vector<std::string> LineView::Compose(double now, TerminalSize size) {
  std::vector<PortRow> rows;
  for (const Row& row : rows_) {
    PortRow r;
    r.port = row.device.empty() || row.device == row.port ? row.port : row.port + " " + row.device;
    r.running = StepTimeRuns(row.step) && !row.ended;
    r.ended = row.ended;
    r.state = row.ended ? "ended" : row.state;
    r.time = r.running ? Duration(now - row.stepSince) : "-";
    r.done = row.done;
    r.failed = row.failed;
    r.unverified = row.unverified;
    r.last = row.last;
    r.status = row.status;
    r.changedAt = row.changedAt;
    rows.push_back(std::move(r));
  }
  return table_.Lines(rows, TotalsLine(), messages_, size);
}

bool LineView::Draw(double now, TerminalSize size) {
  if (mode_ != Mode::Table) return false;
  std::vector<std::string> lines = Compose(now, size);
  const bool resized = frames_ > 0 && !(size == shownSize_);
  if (frames_ > 0 && !resized && lines == shown_) return false;
  std::string frame;
  auto move = [&frame](std::size_t n, char how) {
    if (n > 0) frame += "\x1b[" + std::to_string(n) + how;
  };
  if (frames_ == 0 || resized) {
    // Back over the old lines as the resized terminal holds them (one that rewraps makes a
    // line that no longer fits take more rows), then everything anew.
    std::size_t up = 0;
    const auto columns = static_cast<std::size_t>(std::max(size.columns, 1));
    for (const std::string& old : shown_)
      up += std::max<std::size_t>(1, (old.size() + columns - 1) / columns);
    move(up, 'F');
    if (resized) frame += "\x1b[J";
    for (const std::string& line : lines) frame += line + "\n";
  } else {
    // Only the lines that differ; `at` is the cursor's line, counted from the table's first.
    std::size_t at = shown_.size();
    auto moveTo = [&](std::size_t k) {
      if (k < at) move(at - k, 'F');
      if (k > at) move(k - at, 'E');
      at = k;
    };
    for (std::size_t k = 0; k < lines.size(); ++k) {
      if (k < shown_.size() && lines[k] == shown_[k]) continue;
      moveTo(k);
      frame += "\x1b[2K" + lines[k] + "\n";
      at = k + 1;
    }
    moveTo(lines.size());
    if (lines.size() < shown_.size()) frame += "\x1b[J";
  }
  out_ << frame << std::flush;
  shown_ = std::move(lines);
  shownSize_ = size;
  ++frames_;
  return true;
}

double LineView::NextTick(double now) const {
  if (mode_ != Mode::Table) return -1;
  for (const Row& row : rows_) {
    if (!row.ended && StepTimeRuns(row.step)) return std::floor(now) + 1;
  }
  return -1;
}

void LineView::Finish(double now, TerminalSize size) {
  Draw(now, size);
  for (const std::string& text : later_) err_ << "zanowipe-cli: " << text << std::endl;
  int done = 0, failed = 0, unverified = 0;
  for (const Row& row : rows_) {
    out_ << "Summary: " << row.port
         << (row.device.empty() || row.device == row.port ? "" : " (" + row.device + ")") << ": "
         << row.done << " done, " << row.failed << " failed, " << row.unverified << " unverified";
    // A port that ended on a failure of its own (it did not open, its device went away, its
    // worker died) says which.
    const bool result = row.endStatus == kExitComplete || row.endStatus == kExitFailed ||
                        row.endStatus == kExitUnverified || row.endStatus == kExitInterrupted;
    if (row.ended && !result && !row.reason.empty()) out_ << " (" << row.reason << ")";
    out_ << std::endl;
    done += row.done;
    failed += row.failed;
    unverified += row.unverified;
  }
  const int boxes = done + failed + unverified;
  out_ << "Total: " << done << " done, " << failed << " failed, " << unverified << " unverified, "
       << boxes << (boxes == 1 ? " Box" : " Boxes") << " in " << Duration(now);
  if (boxes > 0 && now > 0) out_ << " (" << PerHour(boxes, now) << " an hour)";
  out_ << std::endl;
}

}  // namespace cli
