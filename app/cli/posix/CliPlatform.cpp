// Port names lead to devices through the device map, and lines run in worker processes.
#include "app/cli/CliOptions.h"
#include "app/cli/LineRun.h"

namespace cli {

CliPlatform ThisPlatform() {
  return {true, SeveralPortsSupported()};
}

}  // namespace cli
