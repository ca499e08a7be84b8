// Port names lead to devices through the device map, lines run in worker processes, and
// SIGTERM and SIGHUP interrupt as Ctrl-C does.
#include "app/cli/CliOptions.h"
#include "app/cli/LineRun.h"

namespace cli {

CliPlatform ThisPlatform() {
  return {true, SeveralPortsSupported(), true};
}

}  // namespace cli
