// zanowipe-cli's command line.
#pragma once

#include <optional>
#include <string>

namespace cli {

// Exit statuses, as documented in --help.
enum ExitStatus : int {
  kExitComplete = 0,
  kExitPortError =
      1,  // an error box (the port would not open, a write failed) or the device went away
  kExitUsage = 2,
  kExitTimeout = 3,  // --timeout, or the Box fell silent for --stall
  kExitDeclined = 4,
  kExitInterrupted = 130,
};

struct CliOptions {
  std::string port = "COM1";  // as given: COM1..COM8 or a device path
  int comIndex = 0;           // list entry chosen: 0 for COM1 .. 7 for COM8
  std::string devicePath;     // set when a path was given; it is mapped to COM1
  bool includeConfig = false;
  bool yes = false;
  int timeoutSeconds = 0;  // 0: no limit
  int stallSeconds = 0;    // 0: silence is not watched
  bool allowTtyS = false;
  bool quiet = false;
};

struct CliParse {
  std::optional<CliOptions> options;  // empty: print `message`, exit with `exitCode`
  std::string message;
  int exitCode = 0;
};

CliParse ParseCliOptions(int argc, char** argv);
std::string CliHelpText();
// Whether a device is one that this program will not open unasked: on many machines
// /dev/ttyS0 is the system console, and nothing tells the ttyS devices apart. Judged on the
// device the name leads to, so a link or a roundabout spelling of the path does not hide it.
bool IsConsoleLikeDevice(const std::string& device);

}  // namespace cli
