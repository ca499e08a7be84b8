#include "app/cli/PortNotes.h"

#include <iostream>
#include <sstream>

namespace cli {

namespace {

// A note's kind: its first words, before the details that may differ from one open to the next
// ("the server did not confirm DTR off, RTS off ..." and "... baud rate 115200, ...").
std::string KindOf(const std::string& note) {
  std::size_t end = 0;
  for (int words = 0; words < 5 && end != std::string::npos; ++words) {
    end = note.find(' ', end == 0 ? 0 : end + 1);
  }
  return note.substr(0, end);
}

}  // namespace

void PortNotes::Around(const std::function<void()>& open) {
  std::istringstream lines(CaptureStandardError(open));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix_, 0) == 0 && !said_.insert(KindOf(line.substr(prefix_.size()))).second) {
      continue;
    }
    std::cerr << line << '\n';
  }
  std::cerr.flush();
}

}  // namespace cli
