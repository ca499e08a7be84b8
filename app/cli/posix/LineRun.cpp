#include "app/cli/LineRun.h"

#include <csignal>

namespace cli {

bool SeveralPortsSupported() {
  return true;
}

int RunLine(const CliOptions&) {
  return kExitUsage;
}

void PrepareWorkerProcess() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace cli
