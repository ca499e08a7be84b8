// COMn is the system's own port: nothing maps a path or a network port to it (a serial server's
// COM port redirector makes its network port a COMn). Ctrl-Break and the console window closing
// interrupt as Ctrl-C does.
#include "app/cli/CliOptions.h"
#include "app/cli/LineRun.h"

namespace cli {

CliPlatform ThisPlatform() {
  return {false, SeveralPortsSupported(), false};
}

}  // namespace cli
