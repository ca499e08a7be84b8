// zanowipe-cli's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses, as documented in --help. With several ports, the highest of theirs.
enum ExitStatus : int {
  kExitComplete = 0,
  kExitPortError =
      1,  // an error box (the port would not open, a write failed) or the device went away
  kExitUsage = 2,
  kExitTimeout = 3,  // --timeout, or the Box fell silent for --stall
  kExitDeclined = 4,
  kExitFailed = 5,      // the erase ran and the range did not read back erased, or the Box refused
  kExitUnverified = 6,  // the erase ran and could not be read back; the Box reported no failure
  kExitRecordFailed = 7,  // a Box's record could not be written (--record)
  kExitInterrupted = 130,
};

// One --port as given and what it chooses.
struct PortChoice {
  std::string given;       // COM1..COM8, a device path or a network port
  int comIndex = 0;        // list entry chosen: 0 for COM1 .. 7 for COM8
  std::string devicePath;  // set when a path or network port was given; mapped to COM1
};

struct CliOptions {
  // Every --port in the order given (COM1 when none was).
  std::vector<PortChoice> ports;
  // The first port: the one a run on a single port drives.
  std::string port = "COM1";
  int comIndex = 0;
  std::string devicePath;
  bool includeConfig = false;
  bool yes = false;
  int timeoutSeconds = 0;  // 0: no limit
  int stallSeconds = 0;    // 0: silence is not watched
  bool allowTtyS = false;
  bool quiet = false;
  bool loop = false;       // after each Box, wait for the next one until interrupted
  std::string recordPath;  // empty: no record file
  // Take the console's prompt after the erase as its end without reading the range back, for
  // Boxes whose console has no crc32 command.
  bool noReadback = false;
  // Run as one port's worker for a parent process: events on standard output, no text.
  bool worker = false;
  // A worker's record file: the descriptor its parent opened for it (-1: the path is opened).
  int recordFd = -1;
};

struct CliParse {
  std::optional<CliOptions> options;  // empty: print `message`, exit with `exitCode`
  std::string message;
  int exitCode = 0;
};

// What the command line offers where it runs: the help text tells only what holds there, and
// a port this build cannot use is refused before anything is asked or opened.
struct CliPlatform {
  bool devicePaths = true;   // device paths, network ports, the [PORTS] map, --allow-ttyS
  bool severalPorts = true;  // several --port at once, in worker processes
  // What interrupts a run besides Ctrl-C: SIGTERM and SIGHUP, or else Ctrl-Break and the
  // console window closing.
  bool terminalSignals = true;
};
CliPlatform ThisPlatform();

CliParse ParseCliOptions(int argc, char** argv, const CliPlatform& platform = ThisPlatform());
std::string CliHelpText(const CliPlatform& platform = ThisPlatform());
// Whether a device is one that this program will not open unasked: on many machines
// /dev/ttyS0 is the system console, and nothing tells the ttyS devices apart. Judged on the
// device the name leads to, so a link or a roundabout spelling of the path does not hide it.
bool IsConsoleLikeDevice(const std::string& device);
// The arguments that make a worker process run `port` as these options ask (program name
// excluded).
std::vector<std::string> WorkerArguments(const CliOptions& options, const PortChoice& port);

}  // namespace cli
