// A production line's records, whatever happens around it: the terminal closed, a full disk,
// records sent down a pipe, Ctrl-C at any moment (twice, or at the very start), a Box that stays
// on and talks, a device that goes away and comes back, a server's notes. zanowipe-cli against
// boxsim on pseudo-terminals in real time, with generous bounds.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/LineHelpers.h"
#include "tests/e2e/Ser2net.h"

namespace e2e {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kCli = ZW_CLI_PATH;

std::vector<std::string> WithPorts(std::vector<std::string> args,
                                   const std::vector<const SimulatedBox*>& boxes) {
  for (const SimulatedBox* box : boxes) args.insert(args.end(), {"--port", box->Device()});
  return args;
}

// The program under a shell that first applies `setup` (ulimit, trap) and then becomes it.
std::vector<std::string> UnderShell(const std::string& setup, std::vector<std::string> args) {
  args.insert(args.begin(), {"/bin/sh", "-c", setup + " && exec \"$0\" \"$@\""});
  return args;
}

// Ctrl-C ends a loop that waits for its next Box, with the interrupt's exit status.
void EndTheLoopWithCtrlC(Process& cli) {
  cli.Signal(SIGINT);
  auto e = cli.Wait(30s);
  ASSERT_TRUE(e.has_value()) << "the loop did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
}

// Closing the terminal sends SIGHUP to everything in its foreground process group, the workers
// as well as the parent: the Box in the middle of its erase is recorded as interrupted, every
// port is closed and the summary printed, as for SIGTERM.
TEST(CliLineRecords, ClosingTheTerminalEndsLikeSigtermWithRecordsClosedPortsAndSummary) {
  for (const int ports : {1, 2}) {
    SCOPED_TRACE(std::to_string(ports) + " port(s)");
    ScratchDir dir;
    // 64 sectors of a second: the erase runs for a minute.
    SimulatedBox slow(dir, SwitchedOnAfterOpen({"--fast", "--sector-ms", "1000", "-v"}),
                      "slow.img");
    SimulatedBox idle(dir, {"--fast", "--silent", "-v"}, "idle.img");
    ASSERT_FALSE(slow.Device().empty() || idle.Device().empty());
    const std::string record = dir.File("erased.jsonl");
    std::vector<const SimulatedBox*> boxes = {&slow};
    if (ports == 2) boxes.push_back(&idle);
    Process cli(WithPorts({kCli, "--yes", "--loop", "--record", record}, boxes), dir.Path());
    ASSERT_TRUE(WaitUntil(
        [&] {
          return cli.Stdout().find("state:  WORKING") != std::string::npos &&
                 (ports == 1 || Count(idle.Proc().Stderr(), "device opened") >= 1);
        },
        30s))
        << cli.Stdout() << cli.Stderr();
    ::kill(-cli.Pid(), SIGHUP);
    auto e = cli.Wait(30s);
    ASSERT_TRUE(e.has_value()) << "the run did not end at SIGHUP";
    EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
    EXPECT_NE(cli.Stdout().find("Summary: "), std::string::npos) << cli.Stdout();
    // The idle port waited for its Box, which never came: no Box, no record.
    const std::vector<json> records = Records(record);
    ASSERT_EQ(records.size(), 1u) << ReadFile(record);
    EXPECT_EQ(records[0].value("result", ""), "FAILED") << records[0].dump();
    EXPECT_EQ(records[0].value("status", 0), 130) << records[0].dump();
    for (SimulatedBox* box : {&slow, &idle}) {
      if (box == &idle && ports == 1) continue;
      EXPECT_TRUE(WaitUntil(
          [&] { return box->Proc().Stderr().find("device closed") != std::string::npos; }, 10s))
          << box->Device() << " was left open";
    }
  }
}

// A full disk, played by the shell's limit on a file's size (what crosses it is cut short, as on
// a disk that fills mid-write): the line already in the file leaves no room for a record. The
// Box whose record failed is shown at once and counted failed, the file keeps no fragment, and
// the exit status says so.
TEST(CliLineRecords, ARecordThatCannotBeWrittenIsAFailedBoxShownAtOnceAndLeavesTheFileAsItWas) {
  ScratchDir dir;
  const std::string record = dir.File("erased.jsonl");
  std::string before;
  while (before.size() < 64 * 1024 - 300) before += "{\"pad\":\"" + std::string(100, 'x') + "\"}\n";
  WriteFile(record, before);
  const std::string limit = "ulimit -S -f 128 && trap '' XFSZ";  // 128 blocks of 512 bytes

  SimulatedBox a(dir, {"--fast", "--wait-signal", "-v"}, "a.img");
  SimulatedBox b(dir, {"--fast", "--wait-signal", "-v"}, "b.img");
  ASSERT_FALSE(a.Device().empty() || b.Device().empty());
  Process line(
      UnderShell(limit, WithPorts({kCli, "--yes", "--loop", "--record", record}, {&a, &b})),
      dir.Path());
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Count(line.Stdout(), "status: COM Port opened") >= 2 &&
               Count(a.Proc().Stderr(), "device opened") >= 1;
      },
      30s))
      << line.Stdout() << line.Stderr();
  a.Proc().Signal(SIGUSR1);
  // Said while the line still runs, with the port and the file.
  ASSERT_TRUE(WaitUntil(
      [&] {
        const std::string err = line.Stderr();
        return err.find(a.Device() + ": ") != std::string::npos &&
               err.find(record) != std::string::npos;
      },
      30s))
      << line.Stdout() << line.Stderr();
  EXPECT_FALSE(line.Wait(0ms).has_value());
  EXPECT_EQ(ReadFile(record), before) << "the file was changed";
  line.Signal(SIGINT);
  auto e = line.Wait(30s);
  ASSERT_TRUE(e.has_value()) << "the line did not end at SIGINT";
  EXPECT_NE(line.Stdout().find("Summary: " + a.Device() + ": 0 done, 1 failed"), std::string::npos)
      << line.Stdout();
  EXPECT_EQ(ReadFile(record), before) << "the file was changed";

  // One port, no loop: the exit status is the record's.
  SimulatedBox c(dir, SwitchedOnAfterOpen({"--fast"}), "c.img");
  ASSERT_FALSE(c.Device().empty());
  Process one(UnderShell(limit, WithPorts({kCli, "--yes", "--record", record}, {&c})), dir.Path());
  e = one.Wait(60s);
  ASSERT_TRUE(e.has_value()) << one.Stdout() << one.Stderr();
  EXPECT_EQ(e->status, 7) << one.Stdout() << one.Stderr();
  EXPECT_NE(one.Stderr().find(record), std::string::npos) << one.Stderr();
  EXPECT_EQ(ReadFile(record), before) << "the file was changed";
}

// --record /dev/stdout with standard output a pipe or a file, on one port and on a line: every
// Box's record arrives there whole, and nothing fails for want of a disk to flush to.
TEST(CliLineRecords, RecordsGoToAPipeOrToStandardOutputWhole) {
  struct Case {
    int ports;
    bool pipe;
  };
  for (const Case c : {Case{1, true}, Case{2, true}, Case{2, false}}) {
    SCOPED_TRACE(std::to_string(c.ports) + " port(s) to a " + (c.pipe ? "pipe" : "file"));
    ScratchDir dir;
    SimulatedBox a(dir, SwitchedOnAfterOpen({"--fast"}), "a.img");
    SimulatedBox b(dir, SwitchedOnAfterOpen({"--fast"}), "b.img");
    ASSERT_FALSE(a.Device().empty() || b.Device().empty());
    std::vector<const SimulatedBox*> boxes = {&a};
    if (c.ports == 2) boxes.push_back(&b);
    std::vector<std::string> args =
        WithPorts({kCli, "--yes", "--quiet", "--timeout", "60", "--record", "/dev/stdout"}, boxes);
    if (c.pipe) {
      args.insert(args.begin(),
                  {"/bin/sh", "-c", "{ \"$0\" \"$@\"; echo \"exit $?\" >&2; } | cat"});
    }
    Process cli(args, dir.Path());
    auto e = cli.Wait(90s);
    ASSERT_TRUE(e.has_value()) << cli.Stdout() << cli.Stderr();
    if (c.pipe) {
      EXPECT_NE(cli.Stderr().find("exit 0"), std::string::npos) << cli.Stdout() << cli.Stderr();
    } else {
      EXPECT_EQ(e->status, 0) << cli.Stdout() << cli.Stderr();
    }
    const std::vector<json> records = RecordsIn(cli.Stdout(), true);
    ASSERT_EQ(static_cast<int>(records.size()), c.ports) << cli.Stdout() << cli.Stderr();
    for (const json& r : records) EXPECT_EQ(r.value("result", ""), "COMPLETE") << r.dump();
  }
}

// A Box that stays on and keeps talking (it never reaches its prompt) is one failed Box, not a
// new one every --timeout: the next Box starts only once the line has fallen quiet.
TEST(CliLineRecords, LoopTakesABoxThatKeepsTalkingForOneBoxUntilItIsSwitchedOff) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--wait-signal", "--never-prompt", "-v"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const std::string record = dir.File("erased.jsonl");
  Process cli(
      {kCli, "--yes", "--loop", "--timeout", "3", "--record", record, "--port", box.Device()},
      dir.Path());
  auto opened = [&](int n) {
    return WaitUntil(
        [&] {
          const std::string log = box.Proc().Stderr();
          return Count(cli.Stdout(), "status: COM Port opened") >= n &&
                 Count(log, "device opened") == Count(log, "device closed") + 1;
        },
        30s);
  };
  ASSERT_TRUE(opened(1)) << cli.Stdout() << cli.Stderr();
  box.Proc().Signal(SIGUSR1);
  ASSERT_TRUE(WaitUntil([&] { return Count(ReadFile(record), "\n") >= 1; }, 30s))
      << cli.Stdout() << cli.Stderr();
  // Two and more --timeouts of its talk.
  std::this_thread::sleep_for(8s);
  EXPECT_EQ(Count(ReadFile(record), "\n"), 1) << ReadFile(record);
  EXPECT_NE(cli.Stdout().find("switch it off"), std::string::npos) << cli.Stdout();
  box.Proc().Signal(SIGUSR2);
  ASSERT_TRUE(opened(2)) << cli.Stdout() << cli.Stderr();
  box.Proc().Signal(SIGUSR1);
  ASSERT_TRUE(WaitUntil([&] { return Count(ReadFile(record), "\n") >= 2; }, 30s))
      << cli.Stdout() << cli.Stderr();
  ASSERT_NO_FATAL_FAILURE(EndTheLoopWithCtrlC(cli));
  const std::vector<json> records = Records(record);
  ASSERT_EQ(records.size(), 2u) << ReadFile(record);
  for (const json& r : records) EXPECT_EQ(r.value("status", 0), 3) << r.dump();
}

// The device goes away (a USB adapter re-plugged): the port waits for it, says so, and goes on
// with the next Box when it is back.
TEST(CliLineRecords, LoopWaitsForADeviceThatWentAwayAndGoesOn) {
  ScratchDir dir;
  const std::string link = dir.File("box-port");
  SimulatedBox first(
      dir,
      SwitchedOnAfterOpen({"--fast", "--sector-ms", "20", "--hangup-at", "erase", "--link", link}),
      "first.img");
  ASSERT_FALSE(first.Device().empty()) << first.Proc().Stderr();
  const std::string record = dir.File("erased.jsonl");
  Process cli({kCli, "--yes", "--loop", "--record", record, "--port", link}, dir.Path());
  ASSERT_TRUE(WaitUntil([&] { return Count(ReadFile(record), "\n") >= 1; }, 30s))
      << cli.Stdout() << cli.Stderr();
  ASSERT_TRUE(
      WaitUntil([&] { return cli.Stdout().find("to come back") != std::string::npos; }, 20s))
      << cli.Stdout() << cli.Stderr();
  std::this_thread::sleep_for(2s);
  ASSERT_FALSE(cli.Wait(0ms).has_value()) << "the port ended:\n" << cli.Stdout() << cli.Stderr();

  SimulatedBox second(dir, SwitchedOnAfterOpen({"--fast", "--link", link}), "second.img");
  ASSERT_FALSE(second.Device().empty()) << second.Proc().Stderr();
  ASSERT_TRUE(WaitUntil([&] { return Count(ReadFile(record), "\n") >= 2; }, 30s))
      << cli.Stdout() << cli.Stderr();
  ASSERT_NO_FATAL_FAILURE(EndTheLoopWithCtrlC(cli));
  const std::vector<json> records = Records(record);
  ASSERT_EQ(records.size(), 2u) << ReadFile(record);
  EXPECT_EQ(records[0].value("result", ""), "FAILED") << records[0].dump();
  EXPECT_EQ(records[1].value("result", ""), "COMPLETE") << records[1].dump();
  EXPECT_NE(cli.Stdout().find("1 done, 1 failed"), std::string::npos) << cli.Stdout();
}

// A worker that does not end (stopped here) is waited for with a word on what is waited for; a
// second Ctrl-C ends it at once, and its Box is still recorded.
TEST(CliLineRecords, ASecondCtrlCEndsAtOnceAndTheStuckPortIsStillRecorded) {
  ScratchDir dir;
  SimulatedBox stuck(dir, {"--fast", "--silent", "-v"}, "stuck.img");
  SimulatedBox idle(dir, {"--fast", "--silent", "-v"}, "idle.img");
  ASSERT_FALSE(stuck.Device().empty() || idle.Device().empty());
  const std::string record = dir.File("erased.jsonl");
  Process cli(WithPorts({kCli, "--yes", "--record", record}, {&stuck, &idle}), dir.Path());
  pid_t worker = -1;
  ASSERT_TRUE(WaitUntil(
      [&] {
        worker = WorkerOf(cli.Pid(), stuck.Device());
        return worker > 0 && Count(stuck.Proc().Stderr(), "device opened") >= 1 &&
               Count(idle.Proc().Stderr(), "device opened") >= 1;
      },
      30s))
      << cli.Stdout() << cli.Stderr();
  ::kill(worker, SIGSTOP);
  cli.Signal(SIGINT);
  EXPECT_TRUE(
      WaitUntil([&] { return cli.Stderr().find("Ctrl-C again") != std::string::npos; }, 10s))
      << "the parent does not say what it waits for:\n"
      << cli.Stderr();
  ASSERT_TRUE(WaitUntil(
      [&] { return idle.Proc().Stderr().find("device closed") != std::string::npos; }, 20s))
      << "the idle port did not end at the interrupt";
  // A second Ctrl-C is a person's, not the same signal sent twice at once.
  std::this_thread::sleep_for(1s);
  const auto second = std::chrono::steady_clock::now();
  cli.Signal(SIGINT);
  auto e = cli.Wait(30s);
  ASSERT_TRUE(e.has_value());
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - second).count(), 10.0)
      << "the second Ctrl-C did not end the line at once";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
  std::map<std::string, json> byPort = ByPort(Records(record));
  ASSERT_EQ(byPort.size(), 2u) << ReadFile(record);
  EXPECT_NE(byPort[stuck.Device()].value("message", "").find("signal"), std::string::npos)
      << ReadFile(record);
  EXPECT_EQ(byPort[idle.Device()].value("status", 0), 130) << ReadFile(record);
  EXPECT_TRUE(WaitUntil(
      [&] { return stuck.Proc().Stderr().find("device closed") != std::string::npos; }, 10s))
      << "the stuck port was left open";
}

// Ctrl-C in the first moments, before the workers could have set up their handlers: either the
// parent ended before starting anything, or every port ends as interrupted with its record.
TEST(CliLineRecords, CtrlCAtTheStartStillRecordsEveryPort) {
  ScratchDir dir;
  std::vector<std::unique_ptr<SimulatedBox>> boxes;
  std::vector<const SimulatedBox*> ports;
  for (int i = 0; i < 4; ++i) {
    boxes.push_back(std::make_unique<SimulatedBox>(
        dir, std::vector<std::string>{"--fast", "--silent"}, "box" + std::to_string(i) + ".img"));
    ASSERT_FALSE(boxes.back()->Device().empty());
    ports.push_back(boxes.back().get());
  }
  // The last one surely comes once the parent listens: at least that run has workers.
  int reached = 0;
  for (const int delayMs : {0, 5, 10, 20, 30, 45, 70, 1000}) {
    SCOPED_TRACE("Ctrl-C after " + std::to_string(delayMs) + " ms");
    const std::string record = dir.File("erased" + std::to_string(delayMs) + ".jsonl");
    Process cli(WithPorts({kCli, "--yes", "--timeout", "20", "--record", record}, ports),
                dir.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    // The group exists once the child has made it, a moment after it was started.
    while (::kill(-cli.Pid(), SIGINT) != 0) std::this_thread::sleep_for(1ms);
    auto e = cli.Wait(30s);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
    const std::vector<json> records = Records(record);
    if (cli.Stdout().find("Summary:") == std::string::npos) {
      EXPECT_TRUE(records.empty()) << "the parent ended early, yet records exist";
      continue;
    }
    ++reached;
    EXPECT_EQ(cli.Stderr().find("ended by signal"), std::string::npos) << cli.Stderr();
    ASSERT_EQ(records.size(), ports.size()) << ReadFile(record) << cli.Stderr();
    for (const json& r : records) EXPECT_EQ(r.value("status", 0), 130) << r.dump();
  }
  EXPECT_GE(reached, 1);
}

// A serial server's note (ser2net confirms no DTR or RTS) is the worker's to say through the
// parent, named by its port, and with --loop once a port, not for every Box.
TEST(CliLineRecords, AServersNoteIsSaidThroughTheParentOnceAPort) {
  if (Ser2net::Program().empty()) GTEST_SKIP() << "ser2net is not installed";
  for (const int ports : {1, 2}) {
    SCOPED_TRACE(std::to_string(ports) + " port(s)");
    ScratchDir dir;
    SimulatedBox served(dir, {"--fast", "--wait-signal", "-v"}, "served.img");
    SimulatedBox idle(dir, {"--fast", "--silent"}, "idle.img");
    ASSERT_FALSE(served.Device().empty() || idle.Device().empty());
    Ser2net server(served.Device(), Ser2net::Kind::kRfc2217, dir.Path());
    ASSERT_TRUE(server.Ready()) << server.Problem();
    std::vector<std::string> args = {kCli, "--yes", "--loop", "--port", server.Url()};
    if (ports == 2) args.insert(args.end(), {"--port", idle.Device()});
    Process cli(args, dir.Path());
    for (int n = 1; n <= 2; ++n) {
      ASSERT_TRUE(WaitUntil(
          [&] {
            const std::string log = served.Proc().Stderr();
            return Count(cli.Stdout(), "status: COM Port opened") >= n + (ports - 1) &&
                   Count(log, "device opened") == Count(log, "device closed") + 1;
          },
          30s))
          << "Box " << n << ":\n"
          << cli.Stdout() << cli.Stderr();
      if (n > 1) {
        served.Proc().Signal(SIGUSR2);
        ASSERT_TRUE(
            WaitUntil([&] { return Count(served.Proc().Stderr(), "switched off") >= n - 1; }, 10s));
      }
      served.Proc().Signal(SIGUSR1);
      ASSERT_TRUE(WaitUntil([&] { return Count(cli.Stdout(), "Result: COMPLETE") >= n; }, 30s))
          << "Box " << n << ":\n"
          << cli.Stdout() << cli.Stderr();
    }
    cli.Signal(SIGINT);
    auto e = cli.Wait(30s);
    ASSERT_TRUE(e.has_value());
    const std::string err = cli.Stderr();
    ASSERT_EQ(Count(err, "did not confirm"), 1) << err;
    const std::size_t at = err.find("did not confirm");
    const std::string line = err.substr(err.rfind('\n', at) + 1, at - err.rfind('\n', at) - 1);
    const std::string expected =
        ports == 1 ? server.Url() + ": " : "zanowipe-cli: " + server.Url() + ": ";
    EXPECT_EQ(line.rfind(expected, 0), 0u) << "said as \"" << line << "\"";
  }
}

}  // namespace
}  // namespace e2e
