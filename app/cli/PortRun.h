// One port's run: a Box, or with --loop one Box after another until interrupted, each on a window
// of its own (as if the program were started afresh for it), with its record appended when
// asked. Everything that happens goes to the report.
#pragma once

#include <functional>

#include "app/cli/CliOptions.h"
#include "app/cli/RunReport.h"
#include "gui/headless/HeadlessBackend.h"

namespace cli {

class PortRun {
 public:
  PortRun(gui::headless::HeadlessBackend& backend, const CliOptions& options, RunReport& report,
          std::function<bool()> interrupted);

  // Returns the highest exit status of the port's Boxes (130 when interrupted).
  int Run();

 private:
  gui::headless::HeadlessBackend& backend_;
  const CliOptions& options_;
  RunReport& report_;
  std::function<bool()> interrupted_;
};

}  // namespace cli
