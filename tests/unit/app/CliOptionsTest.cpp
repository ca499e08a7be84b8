// zanowipe-cli's command line: what --help promises and what the parser accepts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/CliOptions.h"

namespace {

cli::CliParse Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "zanowipe-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return cli::ParseCliOptions(static_cast<int>(args.size()), argv.data());
}

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
        "SIGHUP", "quiet for 2 s", "a second Ctrl-C"}) {
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

// A serial server's network port is taken like a device path (COM1 leads to it); whether the
// rest of the name is right is told when the port opens.
TEST(CliOptions, NetworkPortsAreTakenLikeDevicePaths) {
  for (const std::string port :
       {"rfc2217://bench-a:3001", "TCP://[::1]:4001", "rfc2217://bench-a"}) {
    const cli::CliParse parsed = Parse({"--port", port});
    ASSERT_TRUE(parsed.options.has_value()) << port << ": " << parsed.message;
    EXPECT_EQ(parsed.options->devicePath, port);
    EXPECT_EQ(parsed.options->comIndex, 0) << port;
  }
  for (const std::string port :
       {"rfc2217:/bench-a:3001", "telnet://bench-a:3001", "bench-a:3001"}) {
    const cli::CliParse parsed = Parse({"--port", port});
    EXPECT_FALSE(parsed.options.has_value()) << port;
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << port;
  }
  EXPECT_NE(Parse({"--help"}).message.find("rfc2217://HOST:PORT"), std::string::npos);
}

}  // namespace
