#include "app/cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "app/SettingsFile.h"
#include "app/cli/LineRun.h"
#include "app/cli/PortName.h"
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

// A serial server's network port: rfc2217://HOST:PORT or tcp://HOST:PORT. Whether the rest is
// well formed is the driver's to judge, when the port opens.
bool IsNetworkPort(const std::string& text) {
  for (const std::string scheme : {"rfc2217://", "tcp://"}) {
    if (text.size() < scheme.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < scheme.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(text[i])) == scheme[i];
    }
    if (same) return true;
  }
  return false;
}

// A whole number of seconds from 1 to 86400 for option `name`, or a message saying what is wrong.
std::optional<int> Seconds(const std::string& text, std::string& message, const std::string& name) {
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || seconds < 1 || seconds > 86400) {
    message = name + " needs a number of seconds from 1 to 86400, not '" + ShownName(text) + "'";
    return std::nullopt;
  }
  return static_cast<int>(seconds);
}

// What --port names, or a message saying what is wrong.
std::optional<PortChoice> Port(const std::string& given, bool allowTtyS,
                               const CliPlatform& platform, std::string& message) {
  PortChoice choice;
  choice.given = given;
  const int index = ComIndex(given);
  const bool path = (!given.empty() && given[0] == '/') || IsNetworkPort(given);
  if (index >= 0) {
    choice.comIndex = index;
  } else if (path && platform.devicePaths) {
    choice.comIndex = 0;
    choice.devicePath = given;
  } else if (given.empty()) {
    message = platform.devicePaths ? "--port needs COM1..COM8, a device path or a network port"
                                   : "--port needs COM1..COM8";
    return std::nullopt;
  } else if (!platform.devicePaths) {
    message = "--port takes COM1..COM8 here" +
              std::string(path ? " (device paths and network ports are for Linux)" : "") +
              ", not '" + ShownName(given) + "'";
    return std::nullopt;
  } else {
    message =
        "--port takes COM1..COM8, a device path or a network port (rfc2217://HOST:PORT, "
        "tcp://HOST:PORT), not '" +
        ShownName(given) + "'";
    return std::nullopt;
  }
  if (!choice.devicePath.empty() && IsConsoleLikeDevice(choice.devicePath) && !allowTtyS) {
    const std::string device = drv::CanonicalDeviceName(choice.devicePath);
    message = "refusing " + ShownName(choice.devicePath) +
              (device != choice.devicePath ? " (" + ShownName(device) + ")" : "") +
              ": /dev/ttyS* may be the system console (use --allow-ttyS if it is not)";
    return std::nullopt;
  }
  return choice;
}

// The options that take no value; the parser would read "--yes=maybe" as a value to convert,
// and say so in its own words.
const char* const kFlags[] = {"-h",           "--help",        "-y",      "--yes",
                              "-q",           "--quiet",       "--loop",  "--include-config",
                              "--allow-ttyS", "--no-readback", "--worker"};

// "--yes=maybe": a message saying that the option takes no value; empty for anything else.
std::string ValueOnAFlag(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    const std::size_t equals = arg.find('=');
    if (arg.size() < 2 || arg[0] != '-' || equals == std::string::npos) continue;
    const std::string name = arg.substr(0, equals);
    for (const char* flag : kFlags) {
      if (name == flag) {
        return name + " takes no value, not '" + ShownName(arg.substr(equals + 1)) + "'";
      }
    }
  }
  return {};
}

// A network port's server port as host and number: the scheme does not matter (both reach the
// same port of the server), nor the host's letter case, its brackets or leading zeros.
std::string ServerPort(const std::string& url) {
  std::string rest = url.substr(url.find("://") + 3);
  for (char& c : rest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t colon = rest.rfind(':');
  std::string host = rest.substr(0, colon);
  std::string number = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  while (number.size() > 1 && number[0] == '0') number.erase(0, 1);
  return host + ":" + number;
}

// The device a port leads to, for telling two ports apart: a COMn through Zanowipe.ini's [PORTS]
// (or its default), links followed and the path tidied.
std::string DeviceOf(const PortChoice& port, const app::TIniFile& settings) {
  std::string device = port.devicePath;
  if (device.empty()) {
    const std::string name = "COM" + std::to_string(port.comIndex + 1);
    device = settings.ReadString("PORTS", name, "");
    if (device.empty()) device = drv::ResolveDeviceName(name);
  }
  return IsNetworkPort(device) ? ServerPort(device) : drv::CanonicalDeviceName(device);
}

// Two ports that lead to one device would race for it, each erasing "its" Box: the message for
// the first such pair, or nothing.
std::string SameDeviceTwice(const std::vector<PortChoice>& ports) {
  const app::TIniFile settings(app::AppDirFrom(app::CurrentDirectory()) + app::kSettingsFileName);
  std::vector<std::string> devices;
  for (const PortChoice& port : ports) devices.push_back(DeviceOf(port, settings));
  for (std::size_t i = 0; i < ports.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (devices[i] != devices[j]) continue;
      return "--port " + ShownName(ports[j].given) + " and --port " + ShownName(ports[i].given) +
             " lead to the same device (" + ShownName(devices[i]) + "); give each port once";
    }
  }
  return {};
}

}  // namespace

bool IsConsoleLikeDevice(const std::string& device) {
  return drv::CanonicalDeviceName(device).rfind("/dev/ttyS", 0) == 0;
}

std::string CliHelpText(const CliPlatform& platform) {
  const bool paths = platform.devicePaths;
  const bool several = platform.severalPorts;
  std::string text = std::string("Usage: zanowipe-cli [--port PORT]") + (several ? "..." : "") +
                     R"( [--include-config] [--yes] [--timeout SECONDS]
                    [--stall SECONDS] [--loop] [--record FILE] [--no-readback]

Erases the user data of a Box over its serial console, the way the window does it, without a
window: opens the port, waits for the Box to be switched on and wakes its console, sends the
erase command line, waits for the console to come back, reads the erased range back with the
console's crc32 command and closes the port. The result is COMPLETE only when the range read
back erased; FAILED when it did not or the Box reported a failure; UNVERIFIED when the console
could not read it back. Every status text and state word is printed with the time since the
start. )";
  text += paths ? "Zanowipe.ini in the current directory is read for its [PORTS] section and "
                  "never written.\n"
                : "Zanowipe.ini is never written.\n";
  if (several) {
    text += R"(
With several ports, each runs its own erase at the same time in a process of its own. On a
terminal a table shows one row per port and is redrawn where something changes; otherwise
(also with TERM=dumb) each change is one line that starts with the port.
)";
  }
  text += R"(
Options:
)";
  if (paths) {
    text +=
        R"(  --port PORT          COM1..COM8 (mapped to devices by Zanowipe.ini's [PORTS] section in the
                       current directory; default /dev/ttyUSB0../dev/ttyUSB7), a device path
                       such as /dev/ttyUSB0 or /dev/pts/3, or a serial server's network port:
                       rfc2217://HOST:PORT (RFC 2217, e.g. ser2net's telnet(rfc2217)) or
                       tcp://HOST:PORT (raw TCP: the server's own line settings apply), an
                       IPv6 host in brackets ([::1]:PORT) (default COM1).)";
  } else {
    text += R"(  --port PORT          COM1..COM8, the system's serial ports (default COM1); a serial
                       server's network port through the COM port its redirector makes.)";
  }
  text += several ? " Give it again for\n                       each further port\n"
                  : "\n                       One port at a time\n";
  text += R"(  --include-config     erase the configuration as well ("Include configuration")
  -y, --yes            do not ask for confirmation before erasing
  --timeout SECONDS    give up after SECONDS (default: wait as long as it takes); with --loop,
                       counted for each Box from its first word
  --stall SECONDS      give up when the Box has sent nothing for SECONDS while it is woken or
                       erasing (default: off). A pulled cable whose adapter stays plugged in,
                       or any real UART, reports nothing: without this (or --timeout) the
                       run then waits for ever.
  --loop               after a Box has ended (COMPLETE or not), wait for the next Box, until
)";
  text +=
      several
          ? R"(                       Ctrl-C; then print a summary for each port. The next Box is the one
                       that talks once the line has been quiet for 2 s from the last Box's
                       last word (it was switched off: one that stays on and keeps talking is
                       not taken again), or once the port's device is back after it went away
                       (looked for once a second)
)"
          : R"(                       Ctrl-C; then print a summary. The next Box is the one that talks once
                       the line has been quiet for 2 s from the last Box's last word (it was
                       switched off: one that stays on and keeps talking is not taken again),
                       or once the port's device is back after it went away (looked for once a
                       second)
)";
  text +=
      R"(  --record FILE        append one line of JSON to FILE for every Box: when, where, which
                       erase, what was sent, what the Box said, the result. Each line is
                       written whole or not at all, and flushed to the disk; a Box whose line
                       could not be written counts as failed (exit status 7). FILE may also
)";
  text += paths ? "                       be a pipe or /dev/stdout\n"
                : "                       be a pipe\n";
  text +=
      R"(  --no-readback        do not read the erased range back (for Boxes whose console has no
                       crc32 command): the prompt after the erase line ends the erase, the
                       result says "not verified" and the record states it. A Box that reports
                       a failure is still FAILED
)";
  if (paths) {
    text +=
        R"(  --allow-ttyS         allow a /dev/ttyS* device, which is refused by default because on many
                       machines /dev/ttyS0 is the system console (links are followed). A device
                       that is an active system console is never opened.
)";
  }
  text += R"(  -q, --quiet          print only errors and the results
  -h, --help           this text

Exit status)";
  text += several ? " (with several ports, the highest of theirs):\n" : ":\n";
  text +=
      R"(  0    COMPLETE: the erased range read back erased (with --no-readback: the erase ran and the
       Box reported no failure)
  1    a port error (the port did not open, a transfer failed) or the device went away
  2    bad arguments
  3    timed out (--timeout), or the Box fell silent (--stall)
  4    not confirmed
  5    FAILED: the range did not read back erased, or the Box reported a failure
  6    UNVERIFIED: the erase ran, but the console could not read the range back
  7    a Box's record could not be written (--record); the file is left as it was
)";
  text +=
      platform.terminalSignals
          ? "  130  interrupted (Ctrl-C, SIGTERM, or SIGHUP: the terminal closed); the port is "
            "closed\n"
          : "  130  interrupted (Ctrl-C, Ctrl-Break, or the console window closed); the port is "
            "closed\n";
  text += several ? "       and the Box's record kept first. With several ports, a second Ctrl-C "
                    "ends them at once\n"
                  : "       and the Box's record kept first\n";
  return text;
}

CliParse ParseCliOptions(int argc, char** argv, const CliPlatform& platform) {
  CliParse result;
  auto fail = [&](const std::string& message) {
    result.message = "zanowipe-cli: " + message + " (see --help)\n";
    result.exitCode = kExitUsage;
    return result;
  };

  if (const std::string message = ValueOnAFlag(argc, argv); !message.empty()) {
    return fail(message);
  }

  CliOptions o;
  std::vector<std::string> ports;
  std::optional<std::string> timeout, stall, record;
  bool help = false;
  CLI::App app{"zanowipe-cli"};
  app.set_help_flag();
  // Unknown arguments are named in this program's own words.
  app.allow_extras();
  // A value such as /dev/ttyUSB0 or /tmp/erased.jsonl is a value, not a "/option" (which the
  // parser would otherwise take it for on Windows).
  app.allow_windows_style_options(false);
  // Every option that takes a value may also come without one, so that its absence is reported
  // by the checks below rather than in the parser's words.
  auto valued = [&](const char* name, auto store) {
    app.add_option_function<std::string>(name, store)
        ->expected(0, 1)
        ->trigger_on_parse()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  };
  valued("--port", [&](const std::string& v) { ports.push_back(v); });
  valued("--timeout", [&](const std::string& v) { timeout = v; });
  valued("--stall", [&](const std::string& v) { stall = v; });
  valued("--record", [&](const std::string& v) { record = v; });
  app.add_flag("-h,--help", help);
  app.add_flag("--include-config", o.includeConfig);
  app.add_flag("-y,--yes", o.yes);
  app.add_flag("--allow-ttyS", o.allowTtyS);
  app.add_flag("-q,--quiet", o.quiet);
  app.add_flag("--loop", o.loop);
  app.add_flag("--no-readback", o.noReadback);
  app.add_flag("--worker", o.worker);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError&) {
    // Values on flags are caught above and everything else is an extra: nothing is left that
    // the parser could refuse, but its words would not be this program's.
    return fail("the arguments cannot be read");
  }
  if (help) {
    result.message = CliHelpText(platform);
    result.exitCode = kExitComplete;
    return result;
  }
  if (!app.remaining().empty()) {
    return fail("unknown argument '" + ShownName(app.remaining().front()) + "'");
  }

  for (auto [text, name, store] : {std::tuple{&timeout, "--timeout", &o.timeoutSeconds},
                                   std::tuple{&stall, "--stall", &o.stallSeconds}}) {
    if (!*text) continue;
    std::string message;
    const std::optional<int> seconds = Seconds(**text, message, name);
    if (!seconds) return fail(message);
    *store = *seconds;
  }
  if (record) {
    if (record->empty()) return fail("--record needs a file name");
    o.recordPath = *record;
  }

  if (ports.empty()) ports.push_back("COM1");
  for (const std::string& given : ports) {
    std::string message;
    std::optional<PortChoice> choice = Port(given, o.allowTtyS, platform, message);
    if (!choice) return fail(message);
    o.ports.push_back(*choice);
  }
  if (o.ports.size() > 1 && !platform.severalPorts) {
    return fail("several ports at once are not available on this platform; give one --port");
  }
  if (o.ports.size() > 1) {
    const std::string same = SameDeviceTwice(o.ports);
    if (!same.empty()) return fail(same);
  }
  // A worker erases without asking: only a line's own parent starts one.
  if (o.worker && !StartedByLineParent()) {
    return fail("--worker is for the processes that a line of several ports starts itself");
  }
  if (o.worker && o.ports.size() != 1) return fail("a worker runs exactly one port");
  o.port = o.ports.front().given;
  o.comIndex = o.ports.front().comIndex;
  o.devicePath = o.ports.front().devicePath;
  result.options = o;
  return result;
}

std::vector<std::string> WorkerArguments(const CliOptions& options, const PortChoice& port) {
  std::vector<std::string> args = {"--worker", "--yes", "--port", port.given};
  if (options.includeConfig) args.push_back("--include-config");
  if (options.timeoutSeconds > 0) {
    args.insert(args.end(), {"--timeout", std::to_string(options.timeoutSeconds)});
  }
  if (options.stallSeconds > 0) {
    args.insert(args.end(), {"--stall", std::to_string(options.stallSeconds)});
  }
  if (options.allowTtyS) args.push_back("--allow-ttyS");
  if (options.noReadback) args.push_back("--no-readback");
  if (options.loop) args.push_back("--loop");
  if (!options.recordPath.empty()) args.insert(args.end(), {"--record", options.recordPath});
  return args;
}

}  // namespace cli
