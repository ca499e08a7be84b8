// The ports of a line shown together, from their workers' events. On a terminal, a table with
// one row per port, drawn again only when what it shows has changed; otherwise one line per
// change, starting with the port; quiet, only each Box's result and the summary.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/EventStream.h"

namespace cli {

class LineView {
 public:
  enum class Mode { Table, Lines, Quiet };

  LineView(std::ostream& out, std::ostream& err, Mode mode, std::vector<std::string> ports);

  // An event of port i's worker, received `now` seconds after the start.
  void Apply(std::size_t i, const WorkerEvent& event, double now);
  // Something the parent has to say about port i's worker (it died, it sent nonsense).
  void Problem(std::size_t i, const std::string& text, double now);
  // What port i's worker would have said to a person (a serial server's note): shown as a
  // message of that port, without changing its row.
  void Note(std::size_t i, const std::string& text);
  // The parent's own word about the whole line (what it waits for once interrupted).
  void Notice(const std::string& text);

  // Table: draws it if what it would show differs from what it showed last; true when it drew.
  // columns: the terminal's width (lines are cut to it, so none wraps and the redraw stays put).
  bool Draw(double now, int columns);
  // Table: when the shown time of a running step next changes, or a negative number when no
  // port is in a step whose time runs (all of them wait for a Box, or have ended).
  double NextTick(double now) const;
  // The last table, then what went wrong and the counts for each port.
  void Finish(double now, int columns);

  int Frames() const { return frames_; }
  // Port i's counts as the view knows them.
  int Done(std::size_t i) const { return rows_.at(i).done; }
  int Failed(std::size_t i) const { return rows_.at(i).failed; }
  int Unverified(std::size_t i) const { return rows_.at(i).unverified; }

 private:
  struct Row {
    std::string port, device;
    app::RunStep step = app::RunStep::Prepared;
    std::string status, state;
    double stepSince = 0;
    int done = 0, failed = 0, unverified = 0;
    std::string last;  // how the last Box ended
    bool ended = false;
    int endStatus = 0;
  };

  void Say(std::size_t i, const std::string& text, double now);
  void Complain(std::size_t i, const std::string& text);
  // A message shown at once: on a table, above it (the table is drawn again under it).
  void Message(const std::string& text);
  std::vector<std::string> TableLines(double now, int columns) const;
  static bool StepTimeRuns(app::RunStep step);

  std::ostream& out_;
  std::ostream& err_;
  Mode mode_;
  std::vector<Row> rows_;
  std::vector<std::string> shown_;  // the table as last drawn
  int frames_ = 0;
};

}  // namespace cli
