// zanowipe-cli on a line of several Boxes at once, each port in a worker process of its own,
// against boxsim on pseudo-terminals in real time (with generous bounds): ports that fail or
// hang do not hold up the others, Boxes follow one another with --loop, every Box leaves one
// whole record line whatever happens to the parent, and the table is drawn only on change.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/LineHelpers.h"
#include "tests/e2e/TerminalProcess.h"
#include "tests/support/ScreenModel.h"

namespace e2e {
namespace {

using nlohmann::json;

const std::string kCli = ZW_CLI_PATH;
const char* const kUserFirst = "a1c00000";
const char* const kLast = "a1ffffff";
const std::string kUserLine =
    "protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
    "vfd COMPLETE\n";

// The seconds stamp of the first plain line `port: text` in a line's output, or -1.
double StampOf(const std::string& out, const std::string& port, const std::string& text) {
  const std::size_t at = out.find("] " + port + ": " + text);
  if (at == std::string::npos) return -1;
  const std::size_t open = out.rfind('[', at);
  return std::stod(out.substr(open + 1, at - open - 1));
}

TEST(CliLine, ThreeBoxesAtOnceEachEndsOnItsOwnAndTheWorstStatusWins) {
  ScratchDir dir;
  SimulatedBox good(dir, SwitchedOnAfterOpen({"--fast"}), "good.img");
  SimulatedBox silent(dir, SwitchedOnAfterOpen({"--fast", "--silent"}), "silent.img");
  SimulatedBox dropped(dir,
                       SwitchedOnAfterOpen({"--fast", "--sector-ms", "20", "--hangup-at", "erase"}),
                       "dropped.img");
  for (SimulatedBox* box : {&good, &silent, &dropped}) {
    ASSERT_FALSE(box->Device().empty()) << box->Proc().Stderr();
  }
  const std::string record = dir.File("erased.jsonl");
  Process cli({kCli, "--yes", "--timeout", "15", "--record", record, "--port", good.Device(),
               "--port", silent.Device(), "--port", dropped.Device()},
              dir.Path());
  auto e = cli.Wait(std::chrono::seconds(90));
  ASSERT_TRUE(e.has_value()) << "the line still runs:\n" << cli.Stdout() << cli.Stderr();
  const std::string out = cli.Stdout();
  const std::string err = cli.Stderr();
  // 0 for the good Box, 1 for the line that dropped, 3 for the silent Box: the highest.
  EXPECT_EQ(e->status, 3) << out << err;
  // The good Box is not held up by the others: it is done long before the silent one gives up.
  const double done = StampOf(out, good.Device(), "Result: COMPLETE");
  EXPECT_GE(done, 0) << out;
  EXPECT_LT(done, 12.0) << out;
  EXPECT_GE(e->wallSeconds, 14.5) << "the silent Box's time limit ended the line";
  EXPECT_LT(e->wallSeconds, 60.0);
  // The parent and its three workers together; a loop that spins would use far more.
  EXPECT_LT(e->cpuSeconds, 4.0) << out;
  EXPECT_NE(err.find(dropped.Device() + ": error box [Zanowipe]"), std::string::npos) << err;
  EXPECT_NE(err.find(silent.Device() + ": timed out after 15 s"), std::string::npos) << err;
  EXPECT_TRUE(InOrder(out, {"Summary: " + good.Device() + ": 1 done, 0 failed"})) << out;

  good.Stop();
  VerifyOutcome g = VerifyFlash(dir, good.Image(), kUserFirst, kLast);
  EXPECT_EQ(g.status, 0) << g.text;
  VerifyOutcome d = VerifyFlash(dir, dropped.Image(), kUserFirst, kLast);
  EXPECT_EQ(d.status, 1) << "the dropped Box was erased only in part: " << d.text;
  EXPECT_EQ(VerifyFlash(dir, silent.Image()).status, 0) << "the silent Box was not touched";

  const std::vector<json> records = Records(record);
  ASSERT_EQ(records.size(), 3u) << ReadFile(record);
  std::map<std::string, json> byPort = ByPort(records);
  const json& ok = byPort[good.Device()];
  EXPECT_EQ(ok.value("result", ""), "COMPLETE") << ok.dump();
  EXPECT_EQ(ok.value("command", ""), kUserLine);
  EXPECT_EQ(ok["range"].value("first", ""), kUserFirst);
  EXPECT_NE(ok.value("boot_text", "").find("SimBox boot loader"), std::string::npos) << ok.dump();
  EXPECT_EQ(ok.value("boot_text", "").find("simbox> "), std::string::npos)
      << "the boot text ends where the first line feed went out: " << ok.dump();
  const std::string reply = ok.value("reply", "");
  EXPECT_EQ(reply.rfind(kUserLine, 0), 0u) << reply;
  EXPECT_NE(reply.find("VFD: COMPLETE"), std::string::npos) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 8), "simbox> ") << reply;
  EXPECT_TRUE(ok["waking_seconds"].is_number()) << ok.dump();
  EXPECT_TRUE(ok["erasing_seconds"].is_number()) << ok.dump();
  EXPECT_LE(ok.value("start", ""), ok.value("end", ""));

  const json& late = byPort[silent.Device()];
  EXPECT_EQ(late.value("result", ""), "FAILED") << late.dump();
  EXPECT_EQ(late.value("status", 0), 3) << late.dump();
  EXPECT_TRUE(late["command"].is_null()) << late.dump();
  EXPECT_EQ(late.value("boot_text", "?"), "") << late.dump();

  const json& cut = byPort[dropped.Device()];
  EXPECT_EQ(cut.value("result", ""), "FAILED") << cut.dump();
  EXPECT_EQ(cut.value("status", 0), 1) << cut.dump();
  ASSERT_TRUE(cut["error"].is_object()) << cut.dump();
  EXPECT_EQ(cut["error"].value("system_code", 0), 1167) << cut.dump();
  EXPECT_EQ(cut.value("command", ""), kUserLine) << cut.dump();
}

TEST(CliLine, LoopErasesBoxAfterBoxUntilInterruptedAndSumsUp) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--wait-signal", "-v"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const std::string record = dir.File("erased.jsonl");
  Process cli({kCli, "--yes", "--loop", "--record", record, "--port", box.Device()}, dir.Path());
  for (int n = 1; n <= 3; ++n) {
    // The port is open again for the next Box, and the Box sees it open, before it is switched
    // on: what a Box says to a closed port is lost. (The Box looks for its opener now and
    // then, so it may or may not have seen the short close between two Boxes.)
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string log = box.Proc().Stderr();
          return Count(cli.Stdout(), "status: COM Port opened") >= n &&
                 Count(log, "device opened") == Count(log, "device closed") + 1;
        },
        std::chrono::seconds(30)))
        << "Box " << n << ":\n"
        << cli.Stdout() << cli.Stderr() << box.Proc().Stderr();
    if (n > 1) {
      box.Proc().Signal(SIGUSR2);
      ASSERT_TRUE(WaitUntil([&] { return Count(box.Proc().Stderr(), "switched off") >= n - 1; },
                            std::chrono::seconds(10)));
    }
    box.Proc().Signal(SIGUSR1);
    ASSERT_TRUE(
        WaitUntil([&] { return Count(ReadFile(record), "\n") >= n; }, std::chrono::seconds(30)))
        << "Box " << n << " left no record:\n"
        << cli.Stdout() << cli.Stderr();
  }
  // Waiting for a fourth Box, interrupted: no record for a Box that never came.
  ASSERT_TRUE(WaitUntil([&] { return Count(cli.Stdout(), "status: COM Port opened") >= 4; },
                        std::chrono::seconds(30)))
      << cli.Stdout();
  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(e.has_value()) << "the loop did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
  EXPECT_EQ(Count(cli.Stdout(), "Result: COMPLETE"), 3) << cli.Stdout();
  // The port is named as it was given (a path given is mapped to COM1 inside, no name of the
  // user's).
  EXPECT_NE(cli.Stdout().find("port:   " + box.Device() + "\n"), std::string::npos) << cli.Stdout();
  EXPECT_NE(cli.Stdout().find("Summary: " + box.Device() + ": 3 done, 0 failed"), std::string::npos)
      << cli.Stdout();
  const std::vector<json> records = Records(record);
  ASSERT_EQ(records.size(), 3u) << ReadFile(record);
  for (const json& r : records) {
    EXPECT_EQ(r.value("result", ""), "COMPLETE") << r.dump();
    EXPECT_NE(r.value("boot_text", "").find("SimBox boot loader"), std::string::npos)
        << "each Box's own banner: " << r.dump();
  }
  EXPECT_LT(records[0].value("end", ""), records[1].value("start", "~"));
  EXPECT_LT(records[1].value("end", ""), records[2].value("start", "~"));
  box.Stop();
  EXPECT_EQ(VerifyFlash(dir, box.Image(), kUserFirst, kLast).status, 0);
}

TEST(CliLine, SigintEndsEveryPortAndRecordsTheBoxInTheMiddleAsInterrupted) {
  ScratchDir dir;
  SimulatedBox quick(dir, SwitchedOnAfterOpen({"--fast"}), "quick.img");
  // 64 sectors of a second: the erase would run for a minute.
  SimulatedBox slow(dir, SwitchedOnAfterOpen({"--fast", "--sector-ms", "1000", "-v"}), "slow.img");
  ASSERT_FALSE(quick.Device().empty()) << quick.Proc().Stderr();
  ASSERT_FALSE(slow.Device().empty()) << slow.Proc().Stderr();
  const std::string record = dir.File("erased.jsonl");
  Process cli(
      {kCli, "--yes", "--record", record, "--port", quick.Device(), "--port", slow.Device()},
      dir.Path());
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string out = cli.Stdout();
        return out.find(quick.Device() + ": Result: COMPLETE") != std::string::npos &&
               out.find(slow.Device() + ": state:  WORKING") != std::string::npos &&
               Count(ReadFile(record), "\n") >= 1;
      },
      std::chrono::seconds(40)))
      << cli.Stdout() << cli.Stderr();
  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(e.has_value()) << "the line did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
  EXPECT_LT(e->wallSeconds, 30.0) << "the slow erase was waited for";
  EXPECT_TRUE(
      WaitUntil([&] { return slow.Proc().Stderr().find("device closed") != std::string::npos; },
                std::chrono::seconds(10)))
      << "the slow Box's port was left open";

  std::map<std::string, json> byPort = ByPort(Records(record));
  ASSERT_EQ(byPort.size(), 2u) << ReadFile(record);
  EXPECT_EQ(byPort[quick.Device()].value("result", ""), "COMPLETE");
  const json& cut = byPort[slow.Device()];
  EXPECT_EQ(cut.value("result", ""), "FAILED") << cut.dump();
  EXPECT_EQ(cut.value("status", 0), 130) << cut.dump();
  EXPECT_EQ(cut.value("command", ""), kUserLine) << cut.dump();
  EXPECT_EQ(cut.value("reply", "").rfind(kUserLine, 0), 0u) << cut.dump();
  EXPECT_EQ(cut.value("reply", "").find("simbox> "), std::string::npos)
      << "the erase had not ended: " << cut.dump();
}

TEST(CliLine, RecordsSurviveTheParentBeingKilledAndTheWorkersCloseTheirPorts) {
  ScratchDir dir;
  SimulatedBox good(dir, SwitchedOnAfterOpen({"--fast"}), "good.img");
  SimulatedBox waiting1(dir, {"--fast", "--silent", "-v"}, "w1.img");
  SimulatedBox waiting2(dir, {"--fast", "--silent", "-v"}, "w2.img");
  for (SimulatedBox* box : {&good, &waiting1, &waiting2}) {
    ASSERT_FALSE(box->Device().empty()) << box->Proc().Stderr();
  }
  const std::string record = dir.File("erased.jsonl");
  Process cli({kCli, "--yes", "--record", record, "--port", good.Device(), "--port",
               waiting1.Device(), "--port", waiting2.Device()},
              dir.Path());
  ASSERT_TRUE(
      WaitUntil([&] { return Count(ReadFile(record), "\n") >= 1; }, std::chrono::seconds(40)))
      << cli.Stdout() << cli.Stderr();
  ::kill(cli.Pid(), SIGKILL);
  auto e = cli.Wait(std::chrono::seconds(10));
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->status, 128 + SIGKILL);
  // The orphaned workers end their Boxes as interrupted and close their ports.
  EXPECT_TRUE(
      WaitUntil([&] { return Count(ReadFile(record), "\n") >= 3; }, std::chrono::seconds(30)))
      << ReadFile(record);
  for (SimulatedBox* box : {&waiting1, &waiting2}) {
    EXPECT_TRUE(
        WaitUntil([&] { return box->Proc().Stderr().find("device closed") != std::string::npos; },
                  std::chrono::seconds(10)))
        << box->Device() << " was left open";
  }
  std::map<std::string, json> byPort = ByPort(Records(record));
  ASSERT_EQ(byPort.size(), 3u) << ReadFile(record);
  EXPECT_EQ(byPort[good.Device()].value("result", ""), "COMPLETE");
  for (const auto* box : {&waiting1, &waiting2}) {
    EXPECT_EQ(byPort[box->Device()].value("result", ""), "FAILED");
    EXPECT_EQ(byPort[box->Device()].value("status", 0), 130);
  }
}

// A worker killed in the middle of an erase: its Box is still recorded (by the parent) and
// counted failed, once; the other port goes on.
TEST(CliLine, AWorkerThatDiesIsAFailedPortWithItsRecordAndTheOthersGoOn) {
  ScratchDir dir;
  // 64 sectors of a second: the erase runs for a minute.
  SimulatedBox doomed(dir, SwitchedOnAfterOpen({"--fast", "--sector-ms", "1000"}), "doomed.img");
  SimulatedBox later(dir, {"--fast", "--wait-signal", "-v"}, "later.img");
  ASSERT_FALSE(doomed.Device().empty()) << doomed.Proc().Stderr();
  ASSERT_FALSE(later.Device().empty()) << later.Proc().Stderr();
  const std::string record = dir.File("erased.jsonl");
  Process cli(
      {kCli, "--yes", "--record", record, "--port", doomed.Device(), "--port", later.Device()},
      dir.Path());
  pid_t worker = -1;
  ASSERT_TRUE(WaitUntil(
      [&] {
        worker = WorkerOf(cli.Pid(), doomed.Device());
        return worker > 0 &&
               cli.Stdout().find(doomed.Device() + ": state:  WORKING") != std::string::npos &&
               Count(later.Proc().Stderr(), "device opened") >= 1;
      },
      std::chrono::seconds(30)))
      << cli.Stdout() << cli.Stderr();
  ::kill(worker, SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return cli.Stderr().find("ended by signal") != std::string::npos; },
                        std::chrono::seconds(20)))
      << "the parent did not notice its worker's death:\n"
      << cli.Stdout() << cli.Stderr();
  EXPECT_NE(cli.Stderr().find(doomed.Device() + ": the worker was ended by signal"),
            std::string::npos)
      << cli.Stderr();
  // The other port goes on with its Box.
  later.Proc().Signal(SIGUSR1);
  auto e = cli.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(e.has_value()) << "the line hangs on its dead worker:\n"
                             << cli.Stdout() << cli.Stderr();
  EXPECT_EQ(e->status, 1) << cli.Stdout() << cli.Stderr();
  EXPECT_NE(cli.Stdout().find(later.Device() + ": Result: COMPLETE"), std::string::npos)
      << cli.Stdout();
  EXPECT_NE(cli.Stdout().find("Summary: " + doomed.Device() + ": 0 done, 1 failed"),
            std::string::npos)
      << cli.Stdout();
  const std::vector<json> records = Records(record);
  ASSERT_EQ(records.size(), 2u) << ReadFile(record);
  std::map<std::string, json> byPort = ByPort(records);
  const json& dead = byPort[doomed.Device()];
  EXPECT_EQ(dead.value("result", ""), "FAILED") << dead.dump();
  EXPECT_EQ(dead.value("status", 0), 1) << dead.dump();
  EXPECT_NE(dead.value("message", "").find("signal"), std::string::npos) << dead.dump();
  EXPECT_NE(dead.value("message", "").find("while the erase ran"), std::string::npos)
      << dead.dump();
  EXPECT_EQ(byPort[later.Device()].value("result", ""), "COMPLETE");
  later.Stop();
  EXPECT_EQ(VerifyFlash(dir, later.Image(), kUserFirst, kLast).status, 0);
}

// A terminal shows the table, fitted to it: twelve ports on ten rows never scroll the screen
// (the busiest rows show, the rest are summed up), nothing is written while every port waits
// for its Box, a Box's run rewrites only the rows it changes, and a resize redraws the table
// for the new size.
TEST(CliLine, TheTableFitsItsTerminalAndWritesOnlyWhatChanges) {
  ScratchDir dir;
  std::vector<std::unique_ptr<SimulatedBox>> boxes;
  for (int i = 0; i < 12; ++i) {
    boxes.push_back(std::make_unique<SimulatedBox>(
        dir,
        i == 0 ? std::vector<std::string>{"--fast", "--wait-signal", "-v"}
               : std::vector<std::string>{"--fast", "--silent", "-v"},
        "box" + std::to_string(i) + ".img"));
    ASSERT_FALSE(boxes.back()->Device().empty()) << boxes.back()->Proc().Stderr();
  }
  SimulatedBox& later = *boxes.front();
  std::vector<std::string> args = {kCli, "--yes"};
  for (const auto& box : boxes) args.insert(args.end(), {"--port", box->Device()});
  TerminalProcess cli(args, dir.Path(), 100, 10);
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const auto& box : boxes) {
          if (box->Proc().Stderr().find("device opened") == std::string::npos) return false;
        }
        return true;
      },
      std::chrono::seconds(60)))
      << cli.Screen() << cli.Stderr();
  // The workers' first events follow their opens at once.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::size_t waiting = cli.Screen().size();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(cli.Screen().size(), waiting) << "written while every port waited";

  const auto switchedOn = std::chrono::steady_clock::now();
  later.Proc().Signal(SIGUSR1);
  ASSERT_TRUE(
      WaitUntil([&] { return later.Proc().Stderr().find("device closed") != std::string::npos; },
                std::chrono::seconds(30)))
      << cli.Screen() << cli.Stderr();
  // Its worker's last events follow the close at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double active =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - switchedOn).count();
  const std::string run = cli.Screen().substr(waiting);
  // The Box's row changed a dozen times (texts, state words, counts) and its step time ticked
  // once a second; each change rewrites its row and at most the totals or summary line.
  const int changes = 16;
  EXPECT_LE(Count(run, "\x1b[2K"), 2 * (changes + static_cast<int>(active) + 1))
      << "rows written while one Box ran for " << active << " s:\n"
      << run;

  const std::size_t resizedAt = cli.Screen().size();
  cli.Resize(120, 14);
  ASSERT_TRUE(WaitUntil([&] { return cli.Screen().size() > resizedAt; }, std::chrono::seconds(10)))
      << "not redrawn for the new size";
  // A resize is no interrupt: the ports still wait for their Boxes.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_FALSE(cli.Wait(std::chrono::milliseconds(0)).has_value()) << cli.Screen() << cli.Stderr();
  EXPECT_EQ(cli.Screen().find("interrupted", resizedAt), std::string::npos)
      << cli.Screen().substr(resizedAt);
  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(e.has_value()) << "the line did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Screen() << cli.Stderr();

  // What the terminal showed, up to the summary that follows the table.
  const std::string screen = cli.Screen();
  testsupport::ScreenModel model(100, 10);
  model.Feed(screen.substr(0, resizedAt));
  EXPECT_EQ(model.Scrolled(), 0) << "the table outgrew its terminal:\n" << model.Text();
  EXPECT_EQ(model.RowOf("PORT"), 0) << model.Text();
  EXPECT_NE(model.Text().find(" more: "), std::string::npos) << model.Text();
  EXPECT_NE(model.Text().find(later.Device()), std::string::npos) << model.Text();
  EXPECT_NE(model.Text().find("Total: 1 done, 0 failed"), std::string::npos) << model.Text();
  model.Resize(120, 14);
  const std::size_t summary = screen.find("Summary:", resizedAt);
  model.Feed(screen.substr(resizedAt, summary - resizedAt));
  EXPECT_EQ(model.Scrolled(), 0) << model.Text();
  EXPECT_EQ(model.RowOf("PORT"), 0) << model.Text();
  EXPECT_NE(model.Text().find(" more: "), std::string::npos) << model.Text();
  EXPECT_EQ(model.Unknown(), 0);
  for (const std::string& line : model.Lines()) EXPECT_LT(line.size(), 120u) << line;
  EXPECT_NE(screen.find("Summary: " + later.Device() + ": 1 done, 0 failed"), std::string::npos)
      << screen;
}

// TERM=dumb (an editor's shell, a serial console) takes no cursor movement: plain lines there.
TEST(CliLine, ADumbTerminalGetsPlainLines) {
  ScratchDir dir;
  const std::string first = dir.File("no-such-device-1"), second = dir.File("no-such-device-2");
  TerminalProcess cli({kCli, "--yes", "--port", first, "--port", second}, dir.Path(), 80, 24,
                      "dumb");
  auto e = cli.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->status, 1) << cli.Screen() << cli.Stderr();
  const std::string screen = cli.Screen();
  EXPECT_EQ(screen.find('\x1b'), std::string::npos) << screen;
  EXPECT_NE(screen.find("] " + first + ": port:   " + first), std::string::npos) << screen;
  EXPECT_NE(screen.find("Summary: " + second + ": 0 done, 1 failed"), std::string::npos) << screen;
}

}  // namespace
}  // namespace e2e
