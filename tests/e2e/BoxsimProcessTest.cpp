// boxsim as a program: its command line, where its device shows up, power following the
// program on the device, its console over a real pty, hang-up, idle cost and the checker.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/PtyClient.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

ExitInfo RunBoxsim(const ScratchDir& dir, const std::vector<std::string>& args,
                   std::string* out = nullptr, std::string* err = nullptr) {
  std::vector<std::string> argv = {kBoxsim};
  argv.insert(argv.end(), args.begin(), args.end());
  Process p(argv, dir.Path());
  auto e = p.Wait(30s);
  if (out) *out = p.Stdout();
  if (err) *err = p.Stderr();
  return e.value_or(ExitInfo{});
}

TEST(BoxsimProgram, HelpListsTheOptionsAndBadOptionsExitWithTwo) {
  ScratchDir dir;
  std::string out, err;
  EXPECT_EQ(RunBoxsim(dir, {"--help"}, &out).status, 0);
  for (const char* option : {"--link",
                             "--ports-ini",
                             "--flash-init",
                             "--chunk-random",
                             "--upper-x",
                             "--crlf",
                             "--baud",
                             "--silent",
                             "--never-prompt",
                             "--hangup-at",
                             "--seed",
                             "--fast",
                             "--verify-flash",
                             "--wait-signal",
                             "--crc-ms-per-mib",
                             "--stuck-protect",
                             "--write-protected",
                             "--stuck-byte",
                             "--no-crc32",
                             "--crc32-silent",
                             "--crc32-reboot",
                             "--crc32-wrong-range",
                             "--crc32-garbage",
                             "crc32 START COUNT"}) {
    EXPECT_NE(out.find(option), std::string::npos) << option << " missing from --help";
  }
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"--baud", "fast"},
      {"--hangup-at", "lunch"},
      {"--com", "9"},
      {"--sector-ms", "-1"},
      {"--erased", "a1000000", "a1000fff"},
      {"--flash-init"},
      {"--flash-size", "1000"},
      {"--link"},
      {"--stuck-protect", "a1e00000"},
      {"--stuck-protect", "a1ffffff", "a1e00000"},
      {"--stuck-byte", "a0ffffff"},
      {"--stuck-byte", "x"},
      {"--crc-ms-per-mib", "-1"},
      {"--crc32-reboot", "--crc32-silent"},
  };
  for (const auto& args : bad) {
    std::string name;
    for (const auto& a : args) name += a + " ";
    EXPECT_EQ(RunBoxsim(dir, args, nullptr, &err).status, 2) << name;
    EXPECT_NE(err.find("see --help"), std::string::npos) << name << ": " << err;
  }
}

TEST(BoxsimProgram, CheckerTellsErasedFromTouched) {
  ScratchDir dir;
  SimulatedBox box(dir, {});
  ASSERT_FALSE(box.Device().empty());
  box.Stop();
  // A fresh image: fine as it is, and not erased anywhere.
  EXPECT_EQ(VerifyFlash(dir, box.Image()).status, 0);
  VerifyOutcome notErased = VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(notErased.status, 1);
  EXPECT_NE(notErased.text.find("NOT ERASED"), std::string::npos) << notErased.text;
  // One byte changed just outside the range is caught, with its address.
  {
    std::fstream f(box.Image(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0xbfffff);
    f.put(static_cast<char>(0xFF));
  }
  VerifyOutcome touched = VerifyFlash(dir, box.Image());
  EXPECT_EQ(touched.status, 1);
  EXPECT_NE(touched.text.find("TOUCHED: 1 byte(s)"), std::string::npos) << touched.text;
  EXPECT_NE(touched.text.find("a1bfffff"), std::string::npos) << touched.text;
}

TEST(BoxsimProgram, LinkAndSettingsFileEntryPointAtTheDevice) {
  ScratchDir dir;
  const std::string ini = dir.File("Zanowipe.ini");
  WriteFile(ini, "; kept\n[APP]\nTOP=5\n\n[PORTS]\nCOM2=/dev/ttyUSB9\n");
  SimulatedBox box(dir, {"--link", dir.File("box"), "--ports-ini", ini, "--com", "3"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  char target[256] = {};
  ASSERT_GT(::readlink(dir.File("box").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(box.Device(), target);
  EXPECT_EQ(ReadFile(ini),
            "; kept\n[APP]\nTOP=5\n\n[PORTS]\nCOM2=/dev/ttyUSB9\nCOM3=" + box.Device() + "\n");
  auto e = box.Stop();
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->status, 0);
  struct stat st {};
  EXPECT_NE(::lstat(dir.File("box").c_str(), &st), 0) << "the link outlived boxsim";
}

TEST(BoxsimProgram, ConsoleOverAPtyRunsTheCommandsOnTheFlash) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--sector-ms", "1", "--boot-ms", "200"});
  ASSERT_FALSE(box.Device().empty());
  PtyClient c(box.Device());
  ASSERT_TRUE(c.IsOpen());
  ASSERT_TRUE(c.ReadUntil("Hit Enter to stop autoboot", 10s)) << c.Received();
  c.Send("\n");
  ASSERT_TRUE(c.ReadUntil("\nsimbox> ", 10s)) << c.Received();
  c.Forget();
  c.Send("erase a1c00000 a1c0ffff\r\n");
  ASSERT_TRUE(c.ReadUntil("simbox> ", 10s)) << c.Received();
  EXPECT_NE(
      c.Received().find("erase a1c00000 a1c0ffff\nError: sector 192 at a1c00000 is protected"),
      std::string::npos)
      << c.Received();
  c.Forget();
  c.Send(
      "protect off a1c00000 a1c0ffff;erase a1c00000 a1c0ffff;protect on a1c00000 a1c0ffff;"
      "frobnicate;vfd DONE\n");
  ASSERT_TRUE(c.ReadUntil("VFD: DONE\nsimbox> ", 10s)) << c.Received();
  EXPECT_TRUE(InOrder(c.Received(), {"Un-Protected 1 sectors", "Erased 1 sectors",
                                     "Protected 1 sectors", "Unknown command 'frobnicate'"}));
  c.Close();
  box.Stop();
  VerifyOutcome v = VerifyFlash(dir, box.Image(), "a1c00000", "a1c0ffff");
  EXPECT_EQ(v.status, 0) << v.text;
}

// The tool's read-back over a real pty: the sum of what the erase left, no sooner than the Box's
// reading pace allows, in the form the hard-case options give it; the checker, reading the image
// file itself, agrees.
TEST(BoxsimProgram, Crc32OverAPtyReadsBackWhatTheEraseLeft) {
  const std::string eraseLine =
      "protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
      "vfd COMPLETE\n";
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string eol, prompt, answer;
    std::chrono::milliseconds atLeast;
    std::string verdict;
  } cases[] = {
      {"200 ms a MiB",
       {"--crc-ms-per-mib", "200"},
       "\n",
       "simbox> ",
       "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975",
       800ms,
       "OK: a1c00000..a1ffffff erased"},
      {"CR LF, upper case, in chunks, one byte stuck",
       {"--crlf", "--upper-x", "--chunk-random", "--stuck-byte", "a1d00000"},
       "\r\n",
       "SIMBOX> ",
       "crc32 for A1C00000 ... A1FFFFFF ==> 1868997D",
       0ms,
       "NOT ERASED: 1 byte(s) in a1c00000..a1ffffff are not ff, first: a1d00000 holds 0b"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    std::vector<std::string> options = {"--at-console", "--sector-ms", "0"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    SimulatedBox box(dir, options);
    ASSERT_FALSE(box.Device().empty()) << c.name;
    PtyClient p(box.Device());
    ASSERT_TRUE(p.ReadUntil(c.prompt, 10s)) << c.name << ": " << p.Received();
    p.Send(eraseLine);
    ASSERT_TRUE(p.ReadUntil("VFD: COMPLETE" + c.eol + c.prompt, 10s))
        << c.name << ": " << p.Received();
    p.Forget();
    auto sent = std::chrono::steady_clock::now();
    p.Send("crc32 a1c00000 400000\n");
    ASSERT_TRUE(p.ReadUntil(c.prompt, 10s)) << c.name << ": " << p.Received();
    EXPECT_GE(std::chrono::steady_clock::now() - sent, c.atLeast) << c.name;
    EXPECT_EQ(p.Received(), "crc32 a1c00000 400000" + c.eol + c.answer + c.eol + c.prompt)
        << c.name;
    p.Close();
    box.Stop();
    VerifyOutcome v = VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
    EXPECT_EQ(v.status, c.verdict.rfind("OK", 0) == 0 ? 0 : 1) << c.name << ": " << v.text;
    EXPECT_NE(v.text.find(c.verdict), std::string::npos) << c.name << ": " << v.text;
  }
}

TEST(BoxsimProgram, EveryOpenMeetsAFreshStart) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--boot-ms", "100", "-v"});
  ASSERT_FALSE(box.Device().empty());
  {
    PtyClient first(box.Device());
    ASSERT_TRUE(first.ReadUntil("autoboot", 10s)) << first.Received();
    first.Send("\n");
    ASSERT_TRUE(first.ReadUntil("simbox> ", 10s));
  }
  // Reopen only once the sim has seen the close (its log says so).
  auto end = std::chrono::steady_clock::now() + 10s;
  while (box.Proc().Stderr().find("switched off") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_NE(box.Proc().Stderr().find("switched off"), std::string::npos) << box.Proc().Stderr();
  PtyClient second(box.Device());
  ASSERT_TRUE(second.ReadUntil("autoboot", 10s)) << second.Received();
  EXPECT_EQ(second.Received().rfind("\nSimBox boot loader", 0), 0u) << second.Received();
}

TEST(BoxsimProgram, HangUpAtThePromptClosesTheLineAndEnds) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--hangup-at", "prompt"});
  ASSERT_FALSE(box.Device().empty());
  PtyClient c(box.Device());
  ASSERT_TRUE(c.ReadUntil("autoboot", 10s));
  c.Send("\n");
  EXPECT_TRUE(c.ReadUntil("simbox> ", 10s)) << c.Received();
  EXPECT_FALSE(c.ReadUntil("never sent", 5s));
  EXPECT_TRUE(c.HungUp());
  auto e = box.Proc().Wait(10s);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->status, 0);
}

TEST(BoxsimProgram, SilentBoxSendsNothingAndNeverPromptIgnoresLineFeeds) {
  ScratchDir dir;
  SimulatedBox silent(dir, {"--fast", "--silent"}, "a.img");
  SimulatedBox chatty(dir, {"--fast", "--never-prompt"}, "b.img");
  PtyClient s(silent.Device()), n(chatty.Device());
  ASSERT_TRUE(n.ReadUntil("autoboot", 10s));
  n.Send("\n");
  s.Send("\n");
  ASSERT_TRUE(n.ReadUntil("waiting for the application (2)", 15s)) << n.Received();
  EXPECT_EQ(n.Received().find("simbox> "), std::string::npos) << n.Received();
  EXPECT_EQ(s.Received(), "");
}

// The figure includes start-up; an instrumented build spends most of a second there alone.
#ifdef ZW_SANITIZED
constexpr double kIdleCpuBound = 2.0;
#else
constexpr double kIdleCpuBound = 0.3;
#endif

TEST(BoxsimProgram, IdleCostsAlmostNoCpu) {
  ScratchDir dir;
  // One with nobody on the device, one at its console with a program attached.
  SimulatedBox alone(dir, {}, "a.img");
  SimulatedBox attached(dir, {"--at-console"}, "b.img");
  PtyClient c(attached.Device());
  ASSERT_TRUE(c.ReadUntil("simbox> ", 10s));
  std::this_thread::sleep_for(1500ms);
  auto a = alone.Stop();
  auto b = attached.Stop();
  ASSERT_TRUE(a && b);
  EXPECT_LT(a->cpuSeconds, kIdleCpuBound) << "over " << a->wallSeconds << " s";
  EXPECT_LT(b->cpuSeconds, kIdleCpuBound) << "over " << b->wallSeconds << " s";
}

TEST(BoxsimProgram, WaitSignalSwitchesOnAtSigusr1) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--wait-signal", "--boot-ms", "0"});
  PtyClient c(box.Device());
  EXPECT_FALSE(c.ReadUntil("SimBox", 500ms)) << c.Received();
  box.Proc().Signal(SIGUSR1);
  EXPECT_TRUE(c.ReadUntil("autoboot", 10s)) << c.Received();
}

}  // namespace
}  // namespace e2e
