#include "app/cli/CliOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "serial/driver/DeviceMap.h"

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

// A whole number of seconds from 1 to 86400 for option `name`, or a message saying what is wrong.
std::optional<int> Seconds(const std::string& text, std::string& message, const std::string& name) {
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 86400) {
    message = name + " needs a number of seconds from 1 to 86400, not '" + text + "'";
    return std::nullopt;
  }
  return static_cast<int>(seconds);
}

}  // namespace

bool IsConsoleLikeDevice(const std::string& device) {
  return drv::CanonicalDeviceName(device).rfind("/dev/ttyS", 0) == 0;
}

std::string CliHelpText() {
  return R"(Usage: zanowipe-cli [--port PORT] [--include-config] [--yes] [--timeout SECONDS]
                    [--stall SECONDS]

Erases the user data of a Box over its serial console, the way the window does it, without a
window: opens the port, waits for the Box to be switched on and wakes its console, sends the
erase command line, waits for the console to come back and closes the port. Every status text
and state word is printed with the time since the start. Zanowipe.ini in the current
directory is read for its [PORTS] section and never written.

Options:
  --port PORT          COM1..COM8 (mapped to devices by Zanowipe.ini's [PORTS] section in the
                       current directory; default /dev/ttyUSB0../dev/ttyUSB7), or a device
                       path such as /dev/ttyUSB0 or /dev/pts/3 (default COM1)
  --include-config     erase the configuration as well ("Include configuration")
  -y, --yes            do not ask for confirmation before erasing
  --timeout SECONDS    give up after SECONDS (default: wait as long as it takes)
  --stall SECONDS      give up when the Box has sent nothing for SECONDS while it is woken or
                       erasing (default: off). A pulled cable whose adapter stays plugged in,
                       or any real UART, reports nothing: without this (or --timeout) the
                       run then waits for ever.
  --allow-ttyS         allow a /dev/ttyS* device, which is refused by default because on many
                       machines /dev/ttyS0 is the system console (links are followed). A device
                       that is an active system console is never opened.
  -q, --quiet          print only errors and the final result
  -h, --help           this text

Exit status:
  0    the erase ran and the port closed with the state word COMPLETE
  1    a port error (the port did not open, a transfer failed) or the device went away
  2    bad arguments
  3    timed out (--timeout), or the Box fell silent (--stall)
  4    not confirmed
  130  interrupted (Ctrl-C, SIGTERM); the port is closed first
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
    } else if (a == "--timeout" || a == "--stall") {
      if (i + 1 >= args.size()) return fail(a + " needs a number of seconds");
      std::string message;
      const std::optional<int> seconds = Seconds(args[++i], message, a);
      if (!seconds) return fail(message);
      (a == "--timeout" ? o.timeoutSeconds : o.stallSeconds) = *seconds;
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
  if (!o.devicePath.empty() && IsConsoleLikeDevice(o.devicePath) && !o.allowTtyS) {
    const std::string device = drv::CanonicalDeviceName(o.devicePath);
    return fail("refusing " + o.devicePath + (device != o.devicePath ? " (" + device + ")" : "") +
                ": /dev/ttyS* may be the system console (use --allow-ttyS if it is not)");
  }
  result.options = o;
  return result;
}

}  // namespace cli
