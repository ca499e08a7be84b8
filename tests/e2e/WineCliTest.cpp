// The Windows build's zanowipe-cli.exe under Wine against boxsim: Wine's COM8 is pointed at
// boxsim's pty through the private prefix's link (scripts/wine-env.sh). Skipped when the
// Windows build is not there. What Wine allows on a pty is covered: received data, writes, the
// line dropping; modem lines and line errors do not exist on a pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/e2e/E2eHelpers.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kWindowsCli = ZW_WINDOWS_CLI_PATH;
const std::string kScripts = ZW_SCRIPTS_DIR;
const char* const kPort = "COM8";

std::string PrefixFor(const std::string& exe) {
  if (const char* set = std::getenv("ZW_WINEPREFIX"); set && *set) return set;
  for (fs::path dir = fs::path(exe).parent_path(); !dir.empty() && dir != dir.root_path();
       dir = dir.parent_path()) {
    if (fs::exists(dir / "CMakeCache.txt")) return (dir / "wineprefix").string();
  }
  return {};
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kWindowsCli)) GTEST_SKIP() << "no Windows build at " << kWindowsCli;
    prefix_ = PrefixFor(kWindowsCli);
    ASSERT_FALSE(prefix_.empty());
    Process env({kScripts + "/wine-env.sh", prefix_}, dir_.Path());
    auto e = env.Wait(std::chrono::minutes(5));
    ASSERT_TRUE(e && e->status == 0) << env.Stdout() << env.Stderr();
    link_ = prefix_ + "/com8.link";
    char target[4096] = {};
    ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    ASSERT_GT(n, 0) << link_ << " is not the prefix's port link";
    savedTarget_ = target;
  }
  void TearDown() override {
    // Back to a target that does not exist, so the port is "missing" again.
    if (!savedTarget_.empty()) {
      ::unlink(link_.c_str());
      EXPECT_EQ(::symlink(savedTarget_.c_str(), link_.c_str()), 0);
    }
  }

  struct Run {
    ExitInfo exit;
    std::string out, err;
  };
  Run RunWindowsCli(std::vector<std::string> args) {
    args.insert(args.begin(), {kScripts + "/wine-run.sh", kWindowsCli, "--port", kPort, "--yes"});
    Process p(args, dir_.Path());
    auto e = p.Wait(std::chrono::seconds(180));
    EXPECT_TRUE(e.has_value()) << p.Stdout();
    return {e.value_or(ExitInfo{}), p.Stdout(), p.Stderr()};
  }

  ScratchDir dir_;
  std::string prefix_, link_, savedTarget_;
};

TEST_F(WineCli, ErasesTheUserRangeThroughTheWindowsBuild) {
  SimulatedBox box(dir_,
                   SwitchedOnAfterOpen({"--fast", "--chunk-random", "--crlf", "--link", link_}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Run run = RunWindowsCli({"--timeout", "90"});
  EXPECT_EQ(run.exit.status, 0) << run.out;
  EXPECT_TRUE(InOrder(
      run.out, {"status: COM Port opened, switch Box to Power ON",
                "status: Serial connected, sending stopbit (1)", "status: Receiver connected",
                "state:  WORKING", "status: Checking the erased range, please wait",
                "status: COM Port closed, please switch Box to Power OFF", "state:  COMPLETE",
                "Result: COMPLETE (the range read back erased: crc32 7d5b6975)"}));
  box.Stop();
  VerifyOutcome v = VerifyFlash(dir_, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(v.status, 0) << v.text;
}

// A chip that prints the success text and erases nothing is FAILED on Windows too.
TEST_F(WineCli, AWriteProtectedChipIsFailed) {
  SimulatedBox box(dir_, SwitchedOnAfterOpen({"--fast", "--write-protected", "--link", link_}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Run run = RunWindowsCli({"--timeout", "90"});
  EXPECT_EQ(run.exit.status, 5) << run.out;
  EXPECT_TRUE(InOrder(
      run.out, {"state:  FAILED", "Result: FAILED: the range does not read back erased: crc32 "}));
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir_, box.Image()).status, 0) << "nothing may have been erased";
}

TEST_F(WineCli, LineDroppedDuringTheEraseIsAFailure) {
  SimulatedBox box(dir_, SwitchedOnAfterOpen({"--fast", "--sector-ms", "20", "--hangup-at", "erase",
                                              "--link", link_}));
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Run run = RunWindowsCli({"--timeout", "90", "--include-config"});
  EXPECT_EQ(run.exit.status, 1) << run.out;
  EXPECT_TRUE(InOrder(run.out, {"state:  WORKING"}));
  EXPECT_EQ(run.out.find("state:  COMPLETE"), std::string::npos) << run.out;
  EXPECT_LT(run.exit.wallSeconds, 120.0);
}

// Ctrl-C (SIGINT to the process group, which Wine hands to the program's console handler): the
// port is closed and the Box's record kept before the program ends.
TEST_F(WineCli, CtrlCClosesThePortAndKeepsTheRecord) {
  SimulatedBox box(dir_, {"--fast", "--silent", "-v", "--link", link_});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  // Named from the directory it runs in: the Windows build's own spelling.
  const std::string record = dir_.File("erased.jsonl");
  Process cli({kScripts + "/wine-run.sh", kWindowsCli, "--port", kPort, "--yes", "--record",
               "erased.jsonl"},
              dir_.Path());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (box.Proc().Stderr().find("device opened") == std::string::npos &&
         std::chrono::steady_clock::now() < end && !cli.Wait(std::chrono::milliseconds(0))) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_NE(box.Proc().Stderr().find("device opened"), std::string::npos) << cli.Stderr();
  ::kill(-cli.Pid(), SIGINT);
  auto e = cli.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(e.has_value()) << "the Windows build did not end at Ctrl-C";
  const std::string text = ReadFile(record);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("\"status\":130"), std::string::npos) << text;
  EXPECT_NE(box.Proc().Stderr().find("device closed"), std::string::npos) << box.Proc().Stderr();
}

}  // namespace
}  // namespace e2e
