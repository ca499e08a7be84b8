// zanowipe-cli against boxsim on a pseudo-terminal, in real time: the whole road of one erase,
// the hard cases of the line, and the failures a technician meets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"

namespace e2e {
namespace {

const std::string kCli = ZW_CLI_PATH;
constexpr auto kRunLimit = std::chrono::seconds(90);
// Generous for a run of a few seconds of real time; a busy loop would use far more.
constexpr double kCpuLimitSeconds = 1.5;

const char* const kUserFirst = "a1c00000";
const char* const kConfigFirst = "a1b00000";
const char* const kLast = "a1ffffff";

struct CliRun {
  ExitInfo exit;
  std::string out, err;
};

CliRun RunCli(const ScratchDir& dir, std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), kCli);
  Process p(args, dir.Path(), input);
  auto e = p.Wait(kRunLimit);
  EXPECT_TRUE(e.has_value()) << "zanowipe-cli still runs after " << kRunLimit.count() << " s:\n"
                             << p.Stdout() << p.Stderr();
  return {e.value_or(ExitInfo{}), p.Stdout(), p.Stderr()};
}

const std::vector<std::string> kWholeRoad = {
    "state:  PREPARED",
    "status: COM Port opened, switch Box to Power ON",
    "status: Serial connected, sending stopbit (1)",
    "status: Receiver connected",
    "status: Erasing data, please wait",
    "state:  WORKING",
    "status: Checking the erased range, please wait",
    "status: Complete, please switch Box to Power OFF",
    "status: COM Port closed, please switch Box to Power OFF",
    "state:  COMPLETE",
};

TEST(CliAgainstBox, UserDataOnlyErasesExactlyTheUserRange) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_TRUE(InOrder(run.out, kWholeRoad));
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  box.Stop();
  VerifyOutcome v = VerifyFlash(dir, box.Image(), kUserFirst, kLast);
  EXPECT_EQ(v.status, 0) << v.text;
}

TEST(CliAgainstBox, IncludeConfigurationErasesConfigurationToo) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--include-config"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_TRUE(InOrder(run.out, {"erase:  user data and configuration", "state:  COMPLETE"}));
  box.Stop();
  VerifyOutcome v = VerifyFlash(dir, box.Image(), kConfigFirst, kLast);
  EXPECT_EQ(v.status, 0) << v.text;
}

TEST(CliAgainstBox, BoxAlreadyAtItsConsoleGetsNoLineFeed) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--at-console"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("sending stopbit"), std::string::npos) << run.out;
  EXPECT_TRUE(InOrder(run.out, {"status: Receiver connected", "state:  COMPLETE"}));
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image(), kUserFirst, kLast).status, 0);
}

// The line's hard cases: each must still end in an exact erase.
class LineVariants : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(LineVariants, EraseCompletesAndTouchesOnlyTheUserRange) {
  ScratchDir dir;
  std::vector<std::string> options = GetParam();
  options.insert(options.end(), {"--sector-ms", "2", "--boot-ms", "300"});
  SimulatedBox box(dir, SwitchedOnAfterOpen(options));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60"});
  std::string name;
  for (const auto& o : GetParam()) name += o + " ";
  EXPECT_EQ(run.exit.status, 0) << "boxsim " << name << "\n" << run.out << run.err;
  EXPECT_TRUE(InOrder(
      run.out, {"status: Receiver connected", "state:  WORKING",
                "status: COM Port closed, please switch Box to Power OFF", "state:  COMPLETE"}))
      << "boxsim " << name;
  box.Stop();
  VerifyOutcome v = VerifyFlash(dir, box.Image(), kUserFirst, kLast);
  EXPECT_EQ(v.status, 0) << "boxsim " << name << ": " << v.text;
}

INSTANTIATE_TEST_SUITE_P(
    HardCases, LineVariants,
    ::testing::Values(std::vector<std::string>{"--chunk-random", "--seed", "1"},
                      std::vector<std::string>{"--chunk-random", "--seed", "7", "--crlf"},
                      std::vector<std::string>{"--chunk-random", "--seed", "42", "--upper-x"},
                      std::vector<std::string>{"--crlf"}, std::vector<std::string>{"--upper-x"},
                      std::vector<std::string>{"--baud", "9600"}));

TEST(CliAgainstBox, HangUpWhileWakingIsAFailureWithoutHangOrSpin) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--hangup-at", "wake"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("error box"), std::string::npos) << run.err;
  EXPECT_LT(run.exit.wallSeconds, 30.0);
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  EXPECT_EQ(run.out.find("state:  WORKING"), std::string::npos) << run.out;
  auto sim = box.Proc().Wait(std::chrono::seconds(10));
  ASSERT_TRUE(sim.has_value()) << "boxsim did not end after hanging up";
  EXPECT_EQ(sim->status, 0);
  // Nothing was erased.
  VerifyOutcome v = VerifyFlash(dir, box.Image());
  EXPECT_EQ(v.status, 0) << v.text;
}

TEST(CliAgainstBox, HangUpDuringTheEraseIsAFailureWithoutHangOrSpin) {
  ScratchDir dir;
  SimulatedBox box(dir,
                   SwitchedOnAfterOpen({"--fast", "--sector-ms", "20", "--hangup-at", "erase"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 1) << run.out << run.err;
  EXPECT_TRUE(InOrder(run.out, {"state:  WORKING"}));
  EXPECT_EQ(run.out.find("state:  COMPLETE"), std::string::npos) << run.out;
  EXPECT_LT(run.exit.wallSeconds, 30.0);
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  // Half the range was erased when the line dropped: the check must say so.
  VerifyOutcome v = VerifyFlash(dir, box.Image(), kUserFirst, kLast);
  EXPECT_EQ(v.status, 1) << v.text;
  EXPECT_NE(v.text.find("NOT ERASED"), std::string::npos) << v.text;
}

TEST(CliAgainstBox, SilentBoxEndsInTheTimeLimit) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--silent"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "2"});
  EXPECT_EQ(run.exit.status, 3) << run.out << run.err;
  EXPECT_GE(run.exit.wallSeconds, 1.9);
  EXPECT_LT(run.exit.wallSeconds, 30.0);
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  EXPECT_NE(run.err.find("timed out"), std::string::npos) << run.err;
  // Nothing is sent before the Box sends something.
  EXPECT_EQ(run.out.find("sending stopbit"), std::string::npos) << run.out;
}

TEST(CliAgainstBox, BoxThatNeverPromptsKeepsBeingWokenUntilTheTimeLimit) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--never-prompt"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  // Three ticks take 2.1 s; the limit leaves room for a loaded machine.
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "8"});
  EXPECT_EQ(run.exit.status, 3) << run.out << run.err;
  EXPECT_TRUE(
      InOrder(run.out, {"sending stopbit (1)", "sending stopbit (2)", "sending stopbit (3)"}));
  EXPECT_EQ(run.out.find("Receiver connected"), std::string::npos) << run.out;
}

TEST(CliAgainstBox, InterruptClosesThePortAndEnds) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--silent", "-v"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Process cli({kCli, "--port", box.Device(), "--yes"}, dir.Path());
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (cli.Stdout().find("COM Port opened") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(cli.Stdout().find("COM Port opened"), std::string::npos) << cli.Stdout();
  // The Box looks for a new opener now and then; the interrupt acts at once, so an open it has
  // not noticed yet could end before it would.
  while (box.Proc().Stderr().find("device opened") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(box.Proc().Stderr().find("device opened"), std::string::npos) << box.Proc().Stderr();
  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(e.has_value()) << "zanowipe-cli did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
  EXPECT_NE(cli.Stdout().find("port:   closed"), std::string::npos) << cli.Stdout();
  EXPECT_EQ(cli.Stdout().find("COMPLETE"), std::string::npos) << cli.Stdout();
  // The Box saw its port closed.
  end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (box.Proc().Stderr().find("device closed") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(box.Proc().Stderr().find("device closed"), std::string::npos) << box.Proc().Stderr();
}

TEST(CliAgainstBox, MissingDeviceIsAPortError) {
  ScratchDir dir;
  CliRun run = RunCli(dir, {"--port", dir.File("no-such-device"), "--yes", "--timeout", "10"});
  EXPECT_EQ(run.exit.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("Unable to open com port (win error code: 2)"), std::string::npos)
      << run.err;
}

TEST(CliAgainstBox, PortNamedInTheSettingsFile) {
  ScratchDir dir;
  WriteFile(dir.File("Zanowipe.ini"), "[APP]\nTOP=10\nLEFT=20\nCOM PORT=2\n");
  SimulatedBox box(
      dir, SwitchedOnAfterOpen({"--fast", "--ports-ini", dir.File("Zanowipe.ini"), "--com", "3"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", "COM3", "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("COM3 (" + box.Device() + ")"), std::string::npos) << run.out;
  // The window's saved choice is the user's, not the command line's.
  EXPECT_NE(ReadFile(dir.File("Zanowipe.ini")).find("COM PORT=2"), std::string::npos)
      << ReadFile(dir.File("Zanowipe.ini"));
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image(), kUserFirst, kLast).status, 0);
}

// The settings file is the window's: a run takes [PORTS] from it and leaves it as it was, also
// when its stored place is off the one screen the program has and when the port fails to open.
TEST(CliAgainstBox, SettingsFileIsReadAndNeverWritten) {
  ScratchDir dir;
  const std::string ini = dir.File("Zanowipe.ini");
  WriteFile(ini, "; the bench PC\n[APP]\nTOP=-900\nLEFT=2500\nCOM PORT=2\n\n[NOTES]\nbox=7\n");
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--ports-ini", ini, "--com", "3"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const std::string before = ReadFile(ini);
  ASSERT_NE(before.find("COM3=" + box.Device()), std::string::npos) << before;
  struct stat was {};
  ASSERT_EQ(::stat(ini.c_str(), &was), 0);

  const std::vector<std::vector<std::string>> runs = {
      {"--port", "COM3", "--yes", "--timeout", "60"},
      {"--port", dir.File("no-such-device"), "--yes", "--timeout", "60"},
  };
  for (const auto& args : runs) {
    CliRun run = RunCli(dir, args);
    EXPECT_EQ(run.exit.status, args[1] == "COM3" ? 0 : 1) << args[1] << "\n" << run.out << run.err;
    EXPECT_EQ(ReadFile(ini), before) << "after --port " << args[1];
    struct stat now {};
    ASSERT_EQ(::stat(ini.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, was.st_ino) << "replaced after --port " << args[1];
    EXPECT_EQ(now.st_mtim.tv_sec, was.st_mtim.tv_sec) << "written after --port " << args[1];
    EXPECT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec) << "written after --port " << args[1];
  }
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image(), kUserFirst, kLast).status, 0);
}

TEST(CliAgainstBox, NoSettingsFileIsCreated) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  CliRun failed = RunCli(dir, {"--port", dir.File("no-such-device"), "--yes"});
  EXPECT_EQ(failed.exit.status, 1) << failed.out << failed.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("Zanowipe.ini")));
}

// While it waits on a silent Box the program sleeps until something happens: none of its
// threads wakes on a period. (A loop that looked at the clock five times a second would switch
// twenty times in the window below.)
TEST(CliAgainstBox, WaitingOnASilentBoxWakesNothing) {
  if (kRuntimeWakesItself) GTEST_SKIP() << "the sanitizer's own thread would be counted";
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--silent"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Process cli({kCli, "--port", box.Device(), "--yes", "--timeout", "600", "--stall", "600"},
              dir.Path());
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (cli.Stdout().find("COM Port opened") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(cli.Stdout().find("COM Port opened"), std::string::npos) << cli.Stdout();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // every thread reaches its wait

  const long before = ContextSwitches(cli.Pid());
  std::this_thread::sleep_for(std::chrono::seconds(4));
  const long after = ContextSwitches(cli.Pid());
  ASSERT_GE(before, 0);
  ASSERT_GE(after, before) << "zanowipe-cli ended:\n" << cli.Stdout() << cli.Stderr();
  EXPECT_LE(after - before, 4) << "context switches in 4 s of waiting";

  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(e.has_value()) << "zanowipe-cli did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
}

// A Box that stops talking reports nothing on the line, as with a pulled cable whose adapter
// stays plugged in or on any real UART: --stall gives up after that much silence, where only
// --timeout would end the run otherwise.
TEST(CliAgainstBox, StallGivesUpOnABoxThatFallsSilentWhileWoken) {
  ScratchDir dir;
  // No countdown to stop: it boots into a system that says a few lines and then nothing.
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--countdown", "0"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60", "--stall", "2"});
  EXPECT_EQ(run.exit.status, 3) << run.out << run.err;
  EXPECT_NE(run.err.find("the Box has sent nothing for 2 s while waiting for the Box's console"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(InOrder(run.out, {"sending stopbit (1)"}));
  EXPECT_EQ(run.out.find("state:  WORKING"), std::string::npos) << run.out;
  EXPECT_GE(run.exit.wallSeconds, 2.0);
  EXPECT_LT(run.exit.wallSeconds, 30.0);
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
}

TEST(CliAgainstBox, StallGivesUpOnABoxThatFallsSilentWhileErasing) {
  ScratchDir dir;
  // Its first sector takes ten minutes: after the erase line's first answers, nothing.
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--at-console", "--sector-ms", "600000"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60", "--stall", "2"});
  EXPECT_EQ(run.exit.status, 3) << run.out << run.err;
  EXPECT_NE(run.err.find("the Box has sent nothing for 2 s while the erase ran"), std::string::npos)
      << run.err;
  EXPECT_TRUE(InOrder(run.out, {"state:  WORKING", "port:   closed"}));
  EXPECT_EQ(run.out.find("state:  COMPLETE"), std::string::npos) << run.out;
  EXPECT_GE(run.exit.wallSeconds, 2.0);
  EXPECT_LT(run.exit.wallSeconds, 30.0);
}

// Silence before the Box is switched on is the technician's time, not a stall.
TEST(CliAgainstBox, StallWaitsForTheBoxToBeSwitchedOn) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--power-on-delay", "4000"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--yes", "--timeout", "60", "--stall", "2"});
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
  EXPECT_GE(run.exit.wallSeconds, 4.0);
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image(), kUserFirst, kLast).status, 0);
}

TEST(CliAgainstBox, NotConfirmedDoesNothing) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device()}, "n\n");
  EXPECT_EQ(run.exit.status, 4) << run.out << run.err;
  EXPECT_NE(run.out.find("Erase user data on the Box at " + box.Device() + "? [y/N]"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("COM Port opened"), std::string::npos) << run.out;
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image()).status, 0);
}

TEST(CliAgainstBox, ConfirmedWithYesRunsTheErase) {
  ScratchDir dir;
  SimulatedBox box(dir, SwitchedOnAfterOpen({"--fast", "--at-console"}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  CliRun run = RunCli(dir, {"--port", box.Device(), "--timeout", "60"}, "y\n");
  EXPECT_EQ(run.exit.status, 0) << run.out << run.err;
}

TEST(CliAgainstBox, BadArgumentsExitWithTwoAndOpenNothing) {
  ScratchDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},        {"--port"},           {"--port", "COM9"},       {"--port", "ttyUSB0"},
      {"--timeout", "0"}, {"--timeout", "abc"}, {"--port", "/dev/ttyS0"}, {"--stall", "0"},
      {"--stall"},
  };
  for (const auto& args : cases) {
    CliRun run = RunCli(dir, args);
    std::string name;
    for (const auto& a : args) name += a + " ";
    EXPECT_EQ(run.exit.status, 2) << name << "\n" << run.err;
    EXPECT_NE(run.err.find("see --help"), std::string::npos) << name << "\n" << run.err;
  }
  CliRun help = RunCli(dir, {"--help"});
  EXPECT_EQ(help.exit.status, 0);
  EXPECT_NE(help.out.find("--include-config"), std::string::npos);
  EXPECT_NE(help.out.find("130"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace e2e
