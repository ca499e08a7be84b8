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
// Called first in every run: a reader that has gone away (a line's parent, the program at the
// other end of a pipe after the terminal closed) must not take the process down with the next
// thing it writes, before it has closed its port and kept its record.
void PrepareProcess();

// The environment variable by which a line's parent marks the workers it starts (its process
// number), and whether this process is such a worker: --worker skips the question, so it is
// refused to anyone else.
inline constexpr const char* kWorkerEnvironment = "ZANOWIPE_CLI_WORKER";
bool StartedByLineParent();
// A worker writes its records through this descriptor, which its parent opened as the record
// file, so that a name such as /dev/stdout means the same to the parent and every worker.
inline constexpr int kWorkerRecordDescriptor = 3;

}  // namespace cli
