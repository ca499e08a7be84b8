// The fault matrix at the process level: zanowipe-cli against boxsim, watched from outside
// (exit status, wall time, CPU time, the flash image afterwards).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/E2eHelpers.h"

namespace faults {
namespace {

using e2e::ExitInfo;
using e2e::Process;
using e2e::ScratchDir;
using e2e::SimulatedBox;

constexpr auto kRunLimit = std::chrono::seconds(90);
constexpr double kCpuLimitSeconds = 1.5;  // a few seconds of waiting; a spin would use them all

struct CliRun {
  ExitInfo exit;
  std::string out, err;
};

// cwd: where the program runs, when it is not the scratch directory (which holds the output).
CliRun RunCli(const ScratchDir& dir, const std::string& device, const std::string& cwd = "") {
  std::vector<std::string> argv = {ZW_CLI_PATH, "--port", device, "--yes", "--timeout", "60"};
  if (!cwd.empty()) {
    std::string command = "cd '" + cwd + "' && exec";
    for (const auto& a : argv) command += " '" + a + "'";
    argv = {"/bin/sh", "-c", command};
  }
  Process p(argv, dir.Path());
  auto e = p.Wait(kRunLimit);
  EXPECT_TRUE(e.has_value()) << "zanowipe-cli still runs:\n" << p.Stdout() << p.Stderr();
  return {e.value_or(ExitInfo{}), p.Stdout(), p.Stderr()};
}

// A Box already at its console says its prompt once, when switched on. The technician switches
// it on after the port is open; one that answered within the instant of the open would meet a
// port that is not yet watching for events (as on Windows, bytes that arrive before the event
// mask is set raise no event) and the tool would wait for more.
const std::vector<std::string> kAtConsole = {"--fast", "--at-console", "--power-on-delay", "300"};

class CliHangUp : public ::testing::TestWithParam<const char*> {};

// The Box drops the line before the erase was sent: a failure, at once, and nothing erased.
TEST_P(CliHangUp, BeforeTheEraseIsAFailureWithNothingErased) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--hangup-at", GetParam()});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const CliRun run = RunCli(dir, box.Device());
  EXPECT_EQ(run.exit.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("error box"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("state:  WORKING"), std::string::npos) << run.out;
  EXPECT_LT(run.exit.wallSeconds, 30.0);
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  auto sim = box.Proc().Wait(std::chrono::seconds(10));
  ASSERT_TRUE(sim.has_value()) << "boxsim still runs after hanging up";
  const e2e::VerifyOutcome v = e2e::VerifyFlash(dir, box.Image());
  EXPECT_EQ(v.status, 0) << v.text;
}

INSTANTIATE_TEST_SUITE_P(Stages, CliHangUp, ::testing::Values("boot", "prompt"));

// A port that cannot be opened, or whose device goes away, is a failed port in words that name
// its device and say what the error means; on a line it is counted, also with --loop.
TEST(CliPortFailures, NameTheDeviceSayWhatTheErrorMeansAndCountAsFailed) {
  ScratchDir dir;
  const std::string missing = dir.File("no-such-adapter");
  SimulatedBox dropped(dir, {"--fast", "--sector-ms", "20", "--hangup-at", "erase"});
  ASSERT_FALSE(dropped.Device().empty()) << dropped.Proc().Stderr();
  struct Case {
    std::vector<std::string> args;
    std::string err;  // a line of standard error holds this and the device
    std::string device;
    std::string out;  // standard output holds this
  };
  const std::vector<Case> cases = {
      {{"--port", missing}, "did not open", missing, ""},
      {{"--loop", "--port", missing, "--port", missing + "-2"},
       "did not open",
       missing,
       "Summary: " + missing + ": 0 done, 1 failed"},
      {{"--port", dropped.Device()},
       "went away (unplugged, or the server closed the connection)",
       dropped.Device(),
       ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {ZW_CLI_PATH, "--yes", "--timeout", "30"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Process p(argv, dir.Path());
    auto e = p.Wait(kRunLimit);
    ASSERT_TRUE(e.has_value()) << c.args[1] << " still runs:\n" << p.Stdout() << p.Stderr();
    EXPECT_EQ(e->status, 1) << p.Stdout() << p.Stderr();
    const std::string err = p.Stderr();
    bool named = false;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
      named |= line.find(c.err) != std::string::npos && line.find(c.device) != std::string::npos;
    }
    EXPECT_TRUE(named) << "no line with \"" << c.err << "\" and " << c.device << ":\n" << err;
    EXPECT_NE(p.Stdout().find(c.out), std::string::npos) << p.Stdout();
  }
}

// Started where the settings could not be saved: the erase completes, and nothing tries to
// save them (the program only reads the window's settings file).
TEST(CliSettings, ReadOnlyDirectoryStillErasesAndTriesNoSave) {
  ScratchDir dir;
  SimulatedBox box(dir, kAtConsole);
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const CliRun run = RunCli(dir, box.Device(), "/proc");
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Result: COMPLETE"), std::string::npos) << run.out;
  EXPECT_EQ(run.err.find("Unable to write to"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("error box"), std::string::npos) << run.err;
  box.Stop();
  const e2e::VerifyOutcome v = e2e::VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(v.status, 0) << v.text;
}

TEST(CliSettings, GarbageSettingsFileStillErases) {
  ScratchDir dir;
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xFF);
  e2e::WriteFile(dir.File("Zanowipe.ini"), garbage);
  SimulatedBox box(dir, kAtConsole);
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const CliRun run = RunCli(dir, box.Device());
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Result: COMPLETE"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace faults
