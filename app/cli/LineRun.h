// Several ports at once: this process becomes the parent of one worker process per port (each
// the same program, run with --worker), reads their event streams and shows the ports together.
// Where worker processes cannot be had (Windows), one port at a time is all there is.
#pragma once

#include "app/cli/CliOptions.h"

namespace cli {

bool SeveralPortsSupported();
// Runs every port of options.ports in a worker of its own until all have ended; returns the
// highest of their exit statuses (130 when interrupted).
int RunLine(const CliOptions& options);
// Called first in a worker: a parent that has gone away must not take the worker down with the
// next event it writes, before the worker has closed its port and kept its record.
void PrepareWorkerProcess();

}  // namespace cli
