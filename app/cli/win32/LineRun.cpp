// Worker processes for several ports are a POSIX matter (fork and exec); here a run has one port.
#include "app/cli/LineRun.h"

namespace cli {

bool SeveralPortsSupported() {
  return false;
}

int RunLine(const CliOptions&) {
  return kExitUsage;
}

void PrepareProcess() {}

bool StartedByLineParent() {
  return false;
}

}  // namespace cli
