// The running simulator: the pty, the Box, the pacing of its output, power and signals.
#pragma once

#include "tools/boxsim/Options.h"

namespace boxsim {

// Runs until SIGINT/SIGTERM/SIGHUP or a hang-up stage; returns the exit status.
int RunSimulator(const Options& options);

}  // namespace boxsim
