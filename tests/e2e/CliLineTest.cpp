// zanowipe-cli on a line of several Boxes at once, each port in a worker process of its own,
// against boxsim on pseudo-terminals in real time (with generous bounds): ports that fail or
// hang do not hold up the others, Boxes follow one another with --loop, every Box leaves one
// whole record line whatever happens to the parent, and the table is drawn only on change.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/LineHelpers.h"
#include "tests/e2e/TerminalProcess.h"

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
  EXPECT_NE(cli.Stdout().find("Summary: COM1 (" + box.Device() + "): 3 done, 0 failed"),
            std::string::npos)
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

// A terminal shows the table. While every port waits for its Box it is not drawn at all; every
// frame drawn differs from the one before; and there are no more frames than changes to show.
TEST(CliLine, TableIsDrawnOnlyWhenWhatItShowsChanges) {
  ScratchDir dir;
  SimulatedBox silent(dir, {"--fast", "--silent"}, "silent.img");
  SimulatedBox later(dir, {"--fast", "--wait-signal", "-v"}, "later.img");
  ASSERT_FALSE(silent.Device().empty()) << silent.Proc().Stderr();
  ASSERT_FALSE(later.Device().empty()) << later.Proc().Stderr();
  TerminalProcess cli({kCli, "--yes", "--port", silent.Device(), "--port", later.Device()},
                      dir.Path(), 160, 40);
  const std::string header = "PORT";
  auto frames = [&] { return Count(cli.Screen(), header); };
  // Earlier frames still stand in the screen's text: only the newest tells what is shown now.
  auto lastFrame = [&] {
    const std::string screen = cli.Screen();
    const std::size_t at = screen.rfind(header);
    return at == std::string::npos ? std::string() : screen.substr(at);
  };
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Count(lastFrame(), "COM Port opened, switch Box to Power ON") >= 2 &&
               Count(later.Proc().Stderr(), "device opened") >= 1;
      },
      std::chrono::seconds(30)))
      << cli.Screen() << cli.Stderr();
  const int waiting = frames();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(frames(), waiting) << "the table was drawn while every port waited:\n" << cli.Screen();

  const auto switchedOn = std::chrono::steady_clock::now();
  later.Proc().Signal(SIGUSR1);
  // The Box's row has ended (the silent Box's never does).
  ASSERT_TRUE(WaitUntil([&] { return cli.Screen().find("ended") != std::string::npos; },
                        std::chrono::seconds(30)))
      << cli.Screen() << cli.Stderr();
  const double active =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - switchedOn).count();
  const int afterErase = frames();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(frames(), afterErase) << "drawn again with nothing new:\n" << cli.Screen();
  cli.Signal(SIGINT);
  auto e = cli.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(e.has_value()) << "the line did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Screen() << cli.Stderr();

  // Cut the screen into frames and compare each with the one before. A table taken off the
  // screen for a message (the interrupt's word) is drawn again as it was.
  const std::string screen = cli.Screen();
  std::vector<std::string> cut;
  std::vector<bool> followedByMessage;
  for (std::size_t at = screen.find("\x1b[2K" + header); at != std::string::npos;) {
    const std::size_t next = screen.find("\x1b[2K" + header, at + 1);
    std::string frame =
        screen.substr(at, next == std::string::npos ? std::string::npos : next - at);
    followedByMessage.push_back(frame.find("\x1b[J") != std::string::npos);
    // A frame ends where its rows end (the next frame begins by moving up over them).
    frame = frame.substr(0, frame.find("\x1b[3F"));
    frame = frame.substr(0, frame.find("Summary:"));
    cut.push_back(frame);
    at = next;
  }
  ASSERT_EQ(static_cast<int>(cut.size()), frames()) << screen;
  for (std::size_t i = 1; i < cut.size(); ++i) {
    if (followedByMessage[i - 1]) continue;
    EXPECT_NE(cut[i], cut[i - 1]) << "frame " << i << " shows nothing new:\n" << cut[i];
  }
  // The Box that ran changed its row a dozen times (texts, state words, counts), and its
  // step time showed a new second at most once a second: a timer-driven table would show
  // many more.
  const int changes = 16;
  EXPECT_LE(afterErase - waiting, changes + static_cast<int>(active) + 1)
      << "frames while the Box ran: " << (afterErase - waiting) << " in " << active << " s";
  EXPECT_NE(screen.find("Summary: " + later.Device() + ": 1 done, 0 failed"), std::string::npos)
      << screen;
}

}  // namespace
}  // namespace e2e
