// zanowipe-cli's command line: what --help promises and what the parser accepts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/cli/CliOptions.h"

namespace {

cli::CliParse Parse(std::vector<std::string> args,
                    const cli::CliPlatform& platform = cli::ThisPlatform()) {
  args.insert(args.begin(), "zanowipe-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return cli::ParseCliOptions(static_cast<int>(args.size()), argv.data(), platform);
}

const cli::CliPlatform kLinux{true, true, true};
const cli::CliPlatform kWindows{false, false, false};

std::string Joined(const std::vector<std::string>& args) {
  std::string all;
  for (const auto& a : args) all += a + " ";
  return all;
}

TEST(CliHelp, NamesEveryExitStatusAndEveryShortForm) {
  const cli::CliParse help = Parse({"--help"});
  ASSERT_FALSE(help.options.has_value());
  EXPECT_EQ(help.exitCode, cli::kExitComplete);
  for (const char* line :
       {"-y, --yes", "-q, --quiet", "-h, --help", "--stall SECONDS", "--timeout SECONDS",
        "  130  interrupted", "  3    timed out (--timeout), or the Box fell silent (--stall)",
        "quiet for 2 s"}) {
    EXPECT_NE(help.message.find(line), std::string::npos) << "missing: " << line << "\n"
                                                          << help.message;
  }
  for (int status : {cli::kExitComplete, cli::kExitPortError, cli::kExitUsage, cli::kExitTimeout,
                     cli::kExitDeclined, cli::kExitFailed, cli::kExitUnverified,
                     cli::kExitRecordFailed, cli::kExitInterrupted}) {
    const std::string entry = "\n  " + std::to_string(status) + " ";
    EXPECT_NE(help.message.find(entry), std::string::npos) << "exit status " << status;
  }
}

TEST(CliOptions, ShortFormsAndStallAreTaken) {
  const cli::CliParse parsed = Parse({"-y", "-q", "--stall", "5", "--timeout", "120"});
  ASSERT_TRUE(parsed.options.has_value()) << parsed.message;
  EXPECT_TRUE(parsed.options->yes);
  EXPECT_TRUE(parsed.options->quiet);
  EXPECT_EQ(parsed.options->stallSeconds, 5);
  EXPECT_EQ(parsed.options->timeoutSeconds, 120);

  const cli::CliParse plain = Parse({});
  ASSERT_TRUE(plain.options.has_value()) << plain.message;
  EXPECT_EQ(plain.options->stallSeconds, 0) << "silence is watched only when asked";
}

TEST(CliOptions, BadSecondsAreRefusedNamingTheOptionAndTheText) {
  const std::vector<std::vector<std::string>> cases = {
      {"--stall", "0"},  {"--stall", "abc"},   {"--stall", "86401"}, {"--stall", "-3"},
      {"--stall", "2s"}, {"--timeout", "0"},   {"--stall"},          {"--timeout"},
      {"--stall", ""},   {"--timeout", "1e3"},
  };
  for (const auto& args : cases) {
    const cli::CliParse parsed = Parse(args);
    EXPECT_FALSE(parsed.options.has_value()) << Joined(args);
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << Joined(args);
    EXPECT_NE(parsed.message.find(args[0] + " needs a number of seconds"), std::string::npos)
        << Joined(args) << "\n"
        << parsed.message;
    if (args.size() > 1) {
      EXPECT_NE(parsed.message.find("'" + args[1] + "'"), std::string::npos) << Joined(args) << "\n"
                                                                             << parsed.message;
    }
  }
}

// Where paths are taken (Linux), a serial server's network port is taken like a device path
// (COM1 leads to it); whether the rest of the name is right is told when the port opens.
TEST(CliOptions, NetworkPortsAreTakenLikeDevicePaths) {
  for (const std::string port :
       {"rfc2217://bench-a:3001", "TCP://[::1]:4001", "rfc2217://bench-a"}) {
    const cli::CliParse parsed = Parse({"--port", port}, kLinux);
    ASSERT_TRUE(parsed.options.has_value()) << port << ": " << parsed.message;
    EXPECT_EQ(parsed.options->devicePath, port);
    EXPECT_EQ(parsed.options->comIndex, 0) << port;
  }
  for (const std::string port :
       {"rfc2217:/bench-a:3001", "telnet://bench-a:3001", "bench-a:3001"}) {
    const cli::CliParse parsed = Parse({"--port", port}, kLinux);
    EXPECT_FALSE(parsed.options.has_value()) << port;
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << port;
  }
  EXPECT_NE(cli::CliHelpText(kLinux).find("rfc2217://HOST:PORT"), std::string::npos);
}

// The parser's own words never reach the user: a value given to an option that takes none is
// refused as this program says it.
TEST(CliOptions, AValueOnAFlagIsRefusedInTheProgramsOwnWords) {
  for (const std::string arg :
       {"--yes=maybe", "-y=maybe", "--help=x", "--loop=2", "--quiet=no", "--include-config=yes",
        "--allow-ttyS=1", "--no-readback=", "--worker=1"}) {
    const cli::CliParse parsed = Parse({arg});
    EXPECT_FALSE(parsed.options.has_value()) << arg;
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << arg;
    const std::string name = arg.substr(0, arg.find('='));
    const std::string value = arg.substr(arg.find('=') + 1);
    EXPECT_EQ(parsed.message,
              "zanowipe-cli: " + name + " takes no value, not '" + value + "' (see --help)\n")
        << arg;
  }
}

// Values that start with '/' are values on every platform (Windows' "/option" style is off),
// and a port this build cannot use is refused before anything is asked, in words that say why.
TEST(CliOptions, PathsAreValuesAndAPortIsJudgedForThePlatform) {
  const cli::CliParse record = Parse({"--record", "/srv/line/erased.jsonl", "--port", "COM2"});
  ASSERT_TRUE(record.options.has_value()) << record.message;
  EXPECT_EQ(record.options->recordPath, "/srv/line/erased.jsonl");
  EXPECT_EQ(record.options->comIndex, 1);

  const cli::CliParse linux = Parse({"--port", "/dev/ttyUSB0", "--port", "rfc2217://a:1"}, kLinux);
  ASSERT_TRUE(linux.options.has_value()) << linux.message;
  EXPECT_EQ(linux.options->ports.size(), 2u);
  for (const std::string port : {"/dev/ttyUSB0", "rfc2217://bench-a:3001"}) {
    const cli::CliParse windows = Parse({"--port", port}, kWindows);
    EXPECT_FALSE(windows.options.has_value()) << port;
    EXPECT_NE(windows.message.find("--port takes COM1..COM8 here (device paths and network ports "
                                   "are for Linux), not '" +
                                   port + "'"),
              std::string::npos)
        << windows.message;
  }
  const cli::CliParse two = Parse({"--port", "COM1", "--port", "COM2"}, kWindows);
  EXPECT_NE(two.message.find("several ports at once are not available"), std::string::npos)
      << two.message;
  // A name that is not text is quoted escaped.
  const cli::CliParse odd = Parse({"--port", "ttyUSB\x1b[2J\xff"});
  EXPECT_NE(odd.message.find("not 'ttyUSB\\x1b[2J\\xff'"), std::string::npos) << odd.message;
}

// --help tells what holds where it runs: Windows has COM1..COM8 and one port at a time.
TEST(CliHelp, SaysOnlyWhatHoldsOnThePlatform) {
  const std::vector<std::string> linuxOnly = {"[--port PORT]...",
                                              "[PORTS]",
                                              "/dev/ttyUSB0../dev/ttyUSB7",
                                              "rfc2217://HOST:PORT",
                                              "--allow-ttyS",
                                              "With several ports",
                                              "Give it again",
                                              "the highest of theirs",
                                              "SIGHUP",
                                              "a second Ctrl-C",
                                              "/dev/stdout"};
  const std::string linux = cli::CliHelpText(kLinux);
  const std::string windows = cli::CliHelpText(kWindows);
  for (const std::string& text : linuxOnly) {
    EXPECT_NE(linux.find(text), std::string::npos) << "Linux help lacks: " << text;
    EXPECT_EQ(windows.find(text), std::string::npos) << "Windows help has: " << text;
  }
  for (const std::string text :
       {"One port at a time", "COM1..COM8, the system's", "Ctrl-Break", "console window closed"}) {
    EXPECT_NE(windows.find(text), std::string::npos) << windows;
  }
  for (const std::string& help : {linux, windows}) {
    for (const std::string text : {"--record FILE", "--loop", "  6    UNVERIFIED", "-h, --help"}) {
      EXPECT_NE(help.find(text), std::string::npos) << text;
    }
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 96u) << line;
    }
  }
  EXPECT_EQ(Parse({"--help"}).message, cli::CliHelpText(cli::ThisPlatform()));
}

}  // namespace
