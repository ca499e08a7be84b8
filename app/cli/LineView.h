// The ports of a line shown together, from their workers' events. On a terminal that can move
// its cursor, a table fitted to the terminal (LineTable) in which only the lines that changed
// are written again; otherwise one line per change, starting with the port; quiet, only each
// Box's result and the summary. Whatever a worker or the parent has to say goes under the
// table while it shows, and to the error stream when the line ends.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/cli/EventStream.h"
#include "app/cli/LineTable.h"

namespace cli {

class LineView {
 public:
  enum class Mode { Table, Lines, Quiet };

  // A table only where standard output is a terminal that is known to take cursor movement:
  // TERM set, and not "dumb".
  static Mode ChooseMode(bool quiet, bool outputIsTerminal, const char* term);

  // ports: as given (shown escaped); started: the wall-clock time of the start ("09:30:12"),
  // named in the totals line.
  LineView(std::ostream& out, std::ostream& err, Mode mode, const std::vector<std::string>& ports,
           std::string started = std::string());

  // An event of port i's worker, received `now` seconds after the start.
  void Apply(std::size_t i, const WorkerEvent& event, double now);
  // Something the parent has to say about port i (its worker died, it sent nonsense): shown in
  // its row and under the table at once, and on the error stream.
  void Problem(std::size_t i, const std::string& text, double now);
  // What port i's worker would have said to a person (a serial server's note): shown as a
  // message of that port, without changing its row.
  void Note(std::size_t i, const std::string& text);
  // The parent's own word about the whole line (what it waits for once interrupted): a message
  // of no port.
  void Notice(const std::string& text);

  // Table: writes what differs from what the terminal shows (every line after a resize); true
  // when it wrote.
  bool Draw(double now, TerminalSize size);
  // Table: when the shown time of a running step next changes (on the line's whole seconds, so
  // that all the running ports tick together), or a negative number when no port is in a step
  // whose time runs (all of them wait for a Box, or have ended).
  double NextTick(double now) const;
  // The last table, then what went wrong, the counts for each port and the totals.
  void Finish(double now, TerminalSize size);

  int Frames() const { return frames_; }
  // Port i's counts as the view knows them.
  int Done(std::size_t i) const { return rows_.at(i).done; }
  int Failed(std::size_t i) const { return rows_.at(i).failed; }
  int Unverified(std::size_t i) const { return rows_.at(i).unverified; }

 private:
  struct Row {
    std::string port, device;  // shown forms
    app::RunStep step = app::RunStep::Prepared;
    std::string status, state;
    double stepSince = 0;
    double changedAt = 0;
    int done = 0, failed = 0, unverified = 0;
    std::string last;        // how the last counted Box ended
    std::string pending;     // how the last Box ended, until it is counted
    std::string pendingWhy;  // and the run's last word
    // What the port last said of how a Box or the port itself ended (a Box's message, a
    // problem seen here): for a port that ended on a failure of its own, the summary's reason.
    std::string reason;
    bool ended = false;
    int endStatus = 0;  // the port's exit status, once it has ended
  };

  void Say(std::size_t i, const std::string& text, double now);
  void Complain(std::size_t i, const std::string& text);
  // A message of port i, or of the whole line (kWholeLine): on a table, under it at once and
  // on the error stream when the line ends; otherwise on the error stream at once.
  void Message(std::size_t i, const std::string& text);
  std::string TotalsLine() const;
  std::vector<std::string> Compose(double now, TerminalSize size);
  static bool StepTimeRuns(app::RunStep step);

  std::ostream& out_;
  std::ostream& err_;
  Mode mode_;
  std::string started_;
  std::vector<Row> rows_;
  LineTable table_;
  double lastBoxAt_ = 0;               // when the last Box was counted
  std::vector<std::string> shown_;     // the lines the terminal shows
  TerminalSize shownSize_;             // the size they were written for
  std::vector<PortMessage> messages_;  // table mode: the newest, shown under it
  std::vector<std::string> later_;     // table mode: printed when the line ends
  int frames_ = 0;
};

}  // namespace cli
