#include "app/cli/CliOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace cli {

namespace {

// "COM1".."COM8" in any letter case: the list entry 0..7, else -1.
int ComIndex(const std::string& text) {
  if (text.size() != 4) return -1;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[static_cast<std::size_t>(i)])) != "COM"[i])
      return -1;
  }
  if (text[3] < '1' || text[3] > '8') return -1;
  return text[3] - '1';
}

}  // namespace

bool IsConsoleLikeDevice(const std::string& device) {
  return device.rfind("/dev/ttyS", 0) == 0;
}

std::string CliHelpText() {
  return R"(Usage: zanowipe-cli [--port PORT] [--include-config] [--yes] [--timeout SECONDS]

Erases the user data of a Box over its serial console, the way the window does it, without a
window: opens the port, waits for the Box to be switched on and wakes its console, sends the
erase command line, waits for the console to come back and closes the port. Every status text
and state word is printed with the time since the start.

Options:
  --port PORT          COM1..COM8 (mapped to devices by Zanowipe.ini's [PORTS] section in the
                       current directory; default /dev/ttyUSB0../dev/ttyUSB7), or a device
                       path such as /dev/ttyUSB0 or /dev/pts/3 (default COM1)
  --include-config     erase the configuration as well ("Include configuration")
  --yes                do not ask for confirmation before erasing
  --timeout SECONDS    give up after SECONDS (default: wait as long as it takes)
  --allow-ttyS         allow a /dev/ttyS* device, which is refused by default because on many
                       machines /dev/ttyS0 is the system console
  --quiet              print only errors and the final result
  -h, --help           this text

Exit status:
  0  the erase ran and the port closed with the state word COMPLETE
  1  a port error (the port did not open, a transfer failed) or the device went away
  2  bad arguments
  3  timed out
  4  not confirmed
)";
}

CliParse ParseCliOptions(int argc, char** argv) {
  CliParse result;
  CliOptions o;
  std::vector<std::string> args(argv + 1, argv + argc);
  auto fail = [&](const std::string& message) {
    result.message = "zanowipe-cli: " + message + " (see --help)\n";
    result.exitCode = kExitUsage;
    return result;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      result.message = CliHelpText();
      result.exitCode = kExitComplete;
      return result;
    } else if (a == "--port") {
      if (i + 1 >= args.size()) return fail("--port needs COM1..COM8 or a device path");
      o.port = args[++i];
    } else if (a == "--include-config") {
      o.includeConfig = true;
    } else if (a == "--yes" || a == "-y") {
      o.yes = true;
    } else if (a == "--timeout") {
      if (i + 1 >= args.size()) return fail("--timeout needs a number of seconds");
      const std::string& v = args[++i];
      char* end = nullptr;
      errno = 0;
      long seconds = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 86400)
        return fail("--timeout needs a number of seconds from 1 to 86400, not '" + v + "'");
      o.timeoutSeconds = static_cast<int>(seconds);
    } else if (a == "--allow-ttyS") {
      o.allowTtyS = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else {
      return fail("unknown argument '" + a + "'");
    }
  }
  int index = ComIndex(o.port);
  if (index >= 0) {
    o.comIndex = index;
  } else if (!o.port.empty() && o.port[0] == '/') {
    o.comIndex = 0;
    o.devicePath = o.port;
  } else {
    return fail("--port takes COM1..COM8 or a device path, not '" + o.port + "'");
  }
  if (!o.devicePath.empty() && IsConsoleLikeDevice(o.devicePath) && !o.allowTtyS)
    return fail("refusing " + o.devicePath +
                ": /dev/ttyS* may be the system console (use --allow-ttyS if it is not)");
  result.options = o;
  return result;
}

}  // namespace cli
