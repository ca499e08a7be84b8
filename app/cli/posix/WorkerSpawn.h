// Starting a line's worker processes: this program again, run with --worker for one port, in a
// state its parent prepared (its own descriptors, its signals, a mark that the parent started
// it).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace cli {

// This program's own file, to be started again: /proc/self/exe where /proc is mounted, else the
// path it was started by as the kernel keeps it (which needs no /proc and, since a line never
// changes its directory, still leads to it). Empty when neither is an executable file.
std::string WorkerProgram(const std::string& procSelfExe = "/proc/self/exe");

struct WorkerPipes {
  int events = -1;    // the read end of its standard output: event lines
  int messages = -1;  // the read end of its standard error: whatever it would say to a person
};

// Starts `program` with `args` (the program's name first) as a worker. Its standard input is
// /dev/null, its standard output and error go to pipes that the parent reads, `recordFd` (when
// not -1) becomes its descriptor kWorkerRecordDescriptor. SIGINT and SIGHUP are ignored (the
// terminal's Ctrl-C and hang-up are the parent's to hear and pass on), SIGTERM is held back
// until the worker listens for it (`mask`: the signal mask it starts with otherwise), and a
// parent that dies sends it SIGTERM. -1 with errno set when it could not be started.
pid_t StartWorker(const std::string& program, const std::vector<std::string>& args,
                  const sigset_t& mask, int recordFd, WorkerPipes& pipes);

}  // namespace cli
