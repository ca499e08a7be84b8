// The table of a line's ports laid out for a terminal of a given size: one compact row per
// port (port, state word, time in the step, counts, how the last Box ended, status text), a
// totals line and the newest messages. Every line is cut to the width, so none wraps; the
// result of the last Box is cut last (the status and the counts give way first); and when the
// ports do not all fit the height, the busiest and most recently changed are shown and the
// rest summed up in one line, so that the table never outgrows its terminal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cli {

struct TerminalSize {
  int columns = 80;
  int rows = 0;  // 0: not known, as many as needed
  bool operator==(const TerminalSize&) const = default;
};

// One port as the table shows it; every text printable ASCII.
struct PortRow {
  std::string port;   // the port, and its device where that is another name
  std::string state;  // the state word, or "ended"
  std::string time;   // in the current step, or "-"
  int done = 0, failed = 0, unverified = 0;
  std::string last;      // how the last Box ended: "COMPLETE", "FAILED: reason"
  std::string status;    // the status text, or why the port ended
  bool running = false;  // in a step whose time runs
  bool ended = false;
  double changedAt = 0;  // when what it shows last changed
};

// Something said about a port, shown under the table after the port's name as its row has it;
// or about the whole line, shown as it is.
struct PortMessage {
  static constexpr std::size_t kWholeLine = static_cast<std::size_t>(-1);
  std::size_t row = 0;  // a port's, or kWholeLine
  std::string text;     // printable ASCII
};

class LineTable {
 public:
  // totals: the totals line; messages: the newest last, each shown on one line.
  std::vector<std::string> Lines(const std::vector<PortRow>& rows, const std::string& totals,
                                 const std::vector<PortMessage>& messages, TerminalSize size);

 private:
  // The columns only widen while the size stays, so that the status column does not move back
  // and forth from one Box to the next.
  std::size_t stateWidth_ = 0, timeWidth_ = 0, lastWidth_ = 0;
  TerminalSize size_;
};

}  // namespace cli
