// Windows: the serial layer has no notes to say (network ports are POSIX only).
#include "app/cli/PortNotes.h"

namespace cli {

std::string CaptureStandardError(const std::function<void()>& run) {
  run();
  return {};
}

}  // namespace cli
