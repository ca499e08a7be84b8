#include "app/cli/PortNotes.h"

#include <iostream>
#include <sstream>

namespace cli {

void PortNotes::Around(const std::function<void()>& open) {
  std::istringstream lines(CaptureStandardError(open));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix_, 0) == 0 && !said_.insert(line).second) continue;
    std::cerr << line << '\n';
  }
  std::cerr.flush();
}

}  // namespace cli
