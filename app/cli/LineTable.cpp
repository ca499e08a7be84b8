#include "app/cli/LineTable.h"

#include <algorithm>
#include <climits>

#include "app/cli/PortName.h"

namespace cli {

namespace {

const std::string kGap = "  ";
// Room the result keeps before the per-port counts give way to it (the totals line and the
// summary still have them); beyond it, the status keeps kStatusRoom (less is not shown).
constexpr std::size_t kResultEnough = 48;
constexpr std::size_t kStatusRoom = 24;
constexpr std::size_t kStatusLeast = 8;
constexpr std::size_t kShownMessages = 3;

std::string Cut(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text;
  if (width <= 3) return text.substr(0, width);
  return text.substr(0, width - 3) + "...";
}

std::string Left(const std::string& text, std::size_t width) {
  std::string cut = Cut(text, width);
  cut.append(width - cut.size(), ' ');
  return cut;
}

std::string Right(const std::string& text, std::size_t width) {
  const std::string cut = Cut(text, width);
  return std::string(width - cut.size(), ' ') + cut;
}

// The ports to show when `room` rows are all there is: those in a running step, then those
// that changed last; in their own order.
std::vector<std::size_t> Busiest(const std::vector<PortRow>& rows, std::size_t room) {
  std::vector<std::size_t> order(rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (rows[a].running != rows[b].running) return rows[a].running;
    return rows[a].changedAt > rows[b].changedAt;
  });
  order.resize(std::min(room, order.size()));
  std::sort(order.begin(), order.end());
  return order;
}

std::string Hidden(const std::vector<PortRow>& rows, const std::vector<std::size_t>& shown) {
  int working = 0, waiting = 0, ended = 0;
  for (std::size_t i = 0, s = 0; i < rows.size(); ++i) {
    if (s < shown.size() && shown[s] == i) {
      ++s;
      continue;
    }
    (rows[i].ended ? ended : rows[i].running ? working : waiting) += 1;
  }
  std::string text = "... " + std::to_string(working + waiting + ended) + " more:";
  const char* sep = " ";
  for (const auto& [n, word] :
       {std::pair{working, "working"}, std::pair{waiting, "waiting"}, std::pair{ended, "ended"}}) {
    if (n == 0) continue;
    text += sep + std::to_string(n) + " " + word;
    sep = ", ";
  }
  return text;
}

}  // namespace

std::vector<std::string> LineTable::Lines(const std::vector<PortRow>& rows,
                                          const std::string& totals,
                                          const std::vector<PortMessage>& messages,
                                          TerminalSize size) {
  if (!(size == size_)) {
    size_ = size;
    stateWidth_ = timeWidth_ = lastWidth_ = 0;
  }
  // The last column is left free: a line that fills it makes some terminals wrap.
  const std::size_t width = static_cast<std::size_t>(std::max(size.columns, 20) - 1);

  std::vector<std::string> names;
  std::size_t portWidth = 4;
  std::size_t done = 4, failed = 4, unverified = 5;
  for (const PortRow& row : rows) {
    names.push_back(row.port);
    portWidth = std::max(portWidth, row.port.size());
    done = std::max(done, std::to_string(row.done).size());
    failed = std::max(failed, std::to_string(row.failed).size());
    unverified = std::max(unverified, std::to_string(row.unverified).size());
    stateWidth_ = std::max(stateWidth_, row.state.size());
    timeWidth_ = std::max(timeWidth_, row.time.size());
    lastWidth_ = std::max(lastWidth_, row.last.size());
  }
  // Room for the usual words and times from the start (PREPARED, 1m05s), so that the first
  // of them does not move every column.
  stateWidth_ = std::max<std::size_t>(stateWidth_, 8);
  timeWidth_ = std::max<std::size_t>(timeWidth_, 5);
  lastWidth_ = std::max<std::size_t>(lastWidth_, 8);
  portWidth = std::min(portWidth, std::max<std::size_t>(12, width / 4));
  names = ShortNames(names, portWidth);

  const std::size_t fixed = portWidth + stateWidth_ + timeWidth_ + 3 * kGap.size();
  const std::size_t counts = done + failed + unverified + 2 + kGap.size();
  std::size_t room = width > fixed ? width - fixed : 0;
  const bool showCounts = room >= counts + std::min(lastWidth_, kResultEnough);
  if (showCounts) room -= counts;
  std::size_t lastWidth = std::min(lastWidth_, room);
  if (room >= kResultEnough + kGap.size() + kStatusRoom) {
    lastWidth = std::min(lastWidth, room - kGap.size() - kStatusRoom);
  }
  std::size_t statusWidth = room > lastWidth + kGap.size() ? room - lastWidth - kGap.size() : 0;
  if (statusWidth < kStatusLeast) statusWidth = 0;

  auto line = [&](const std::string& port, const std::string& state, const std::string& time,
                  const std::string& d, const std::string& f, const std::string& u,
                  const std::string& last, const std::string& status) {
    std::string text = Left(port, portWidth) + kGap + Left(state, stateWidth_) + kGap +
                       Right(time, timeWidth_) + kGap;
    if (showCounts) {
      text += Right(d, done) + " " + Right(f, failed) + " " + Right(u, unverified) + kGap;
    }
    text += Left(last, lastWidth);
    if (statusWidth > 0) text += kGap + Cut(status, statusWidth);
    text.erase(text.find_last_not_of(' ') + 1);
    return Cut(text, width);
  };

  // One row is left below the table for the cursor: a table as tall as its terminal would
  // scroll it by a line at every redraw.
  const std::size_t budget =
      size.rows > 0 ? static_cast<std::size_t>(std::max(1, size.rows - 1)) : SIZE_MAX;
  const std::string totalsLine = Cut(totals, width);
  if (budget < 2) return {totalsLine};
  const std::size_t below = budget - 2;  // the lines besides the header and the totals
  const std::size_t wanted = std::min(messages.size(), kShownMessages);
  std::size_t messageLines = wanted;
  if (rows.size() + messageLines > below) {
    // The ports come first; the newest message keeps a line where there are two to spare.
    const std::size_t spare = below > rows.size() ? below - rows.size() : 0;
    messageLines = std::min(wanted, std::max<std::size_t>(spare, wanted > 0 && below >= 2 ? 1 : 0));
  }
  const std::size_t portLines = below - messageLines;

  std::vector<std::string> lines;
  lines.push_back(line("PORT", "STATE", "STEP", "DONE", "FAIL", "UNVER", "LAST BOX", "STATUS"));
  std::vector<std::size_t> shown;
  if (rows.size() <= portLines) {
    for (std::size_t i = 0; i < rows.size(); ++i) shown.push_back(i);
  } else {
    shown = Busiest(rows, portLines > 0 ? portLines - 1 : 0);
  }
  for (std::size_t i : shown) {
    const PortRow& row = rows[i];
    lines.push_back(line(names[i], row.state, row.time, std::to_string(row.done),
                         std::to_string(row.failed), std::to_string(row.unverified), row.last,
                         row.status));
  }
  if (shown.size() < rows.size() && portLines > 0) lines.push_back(Cut(Hidden(rows, shown), width));
  lines.push_back(totalsLine);
  for (std::size_t m = messages.size() - messageLines; m < messages.size(); ++m) {
    const PortMessage& message = messages[m];
    const std::string name = message.row < names.size() ? names[message.row] + ": " : "";
    lines.push_back(Cut(name + message.text, width));
  }
  return lines;
}

}  // namespace cli
