// zanowipe-cli against boxsim behind a real ser2net: the Box's console on a pty whose other end
// ser2net serves on a loopback port, reached as rfc2217:// or tcp://. The erase with the flash
// checked byte for byte, the line's hard cases, and the ways a network port fails: a server
// that is killed, one that refuses, a host that does not resolve, and packets that stop.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/PrivateNetwork.h"
#include "tests/e2e/Ser2net.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kCli = ZW_CLI_PATH;
constexpr auto kRunLimit = 90s;
constexpr double kCpuLimitSeconds = 1.5;
const char* const kUserFirst = "a1c00000";
const char* const kLast = "a1ffffff";

// Switched on well after the open: a network port's open waits a moment for the server to
// confirm its settings, and what the Box says before the port watches the line raises nothing.
std::vector<std::string> SwitchedOnAfterNetworkOpen(std::vector<std::string> options) {
  options.insert(options.end(), {"--power-on-delay", "1500"});
  return options;
}

struct CliRun {
  ExitInfo exit;
  std::string out, err;
};

CliRun RunCli(const ScratchDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), kCli);
  Process p(args, dir.Path());
  auto e = p.Wait(kRunLimit);
  EXPECT_TRUE(e.has_value()) << "zanowipe-cli still runs:\n" << p.Stdout() << p.Stderr();
  return {e.value_or(ExitInfo{}), p.Stdout(), p.Stderr()};
}

// The port as a technician names it in Zanowipe.ini: COM1=<url>.
std::vector<std::string> ThroughPorts(const ScratchDir& dir, const std::string& url,
                                      std::vector<std::string> more = {}) {
  WriteFile(dir.File("Zanowipe.ini"), "[PORTS]\nCOM1=" + url + "\n");
  std::vector<std::string> args = {"--port", "COM1", "--yes", "--timeout", "60"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// boxsim on a pty, and ser2net serving that pty.
struct ServedBox {
  ServedBox(const ScratchDir& dir, std::vector<std::string> options, Ser2net::Kind kind)
      : box(dir, std::move(options)), server(box.Device(), kind, dir.Path()) {}
  SimulatedBox box;
  Ser2net server;
};

#define SERVE_OR_SKIP(served)                                                  \
  ASSERT_FALSE((served).box.Device().empty()) << (served).box.Proc().Stderr(); \
  if (Ser2net::Program().empty()) GTEST_SKIP() << (served).server.Problem();   \
  ASSERT_TRUE((served).server.Ready()) << (served).server.Problem()

const std::vector<std::string> kWholeRoad = {
    "status: COM Port opened, switch Box to Power ON",
    "status: Serial connected, sending stopbit (1)",
    "status: Receiver connected",
    "state:  WORKING",
    "status: Complete, please switch Box to Power OFF",
    "status: COM Port closed, please switch Box to Power OFF",
    "state:  COMPLETE",
};

class EachServerPort : public ::testing::TestWithParam<Ser2net::Kind> {};

TEST_P(EachServerPort, ErasesExactlyTheUserRange) {
  ScratchDir dir;
  ServedBox served(dir, SwitchedOnAfterNetworkOpen({"--fast"}), GetParam());
  SERVE_OR_SKIP(served);
  CliRun run = RunCli(dir, {"--port", served.server.Url(), "--yes", "--timeout", "60"});
  EXPECT_EQ(run.exit.status, 0) << served.server.Url() << "\n" << run.out << run.err;
  EXPECT_TRUE(InOrder(run.out, kWholeRoad)) << served.server.Url();
  EXPECT_NE(run.out.find("port:   " + served.server.Url() + "\n"), std::string::npos) << run.out;
  EXPECT_LT(run.exit.cpuSeconds, kCpuLimitSeconds);
  served.box.Stop();
  VerifyOutcome v = VerifyFlash(dir, served.box.Image(), kUserFirst, kLast);
  EXPECT_EQ(v.status, 0) << served.server.Url() << ": " << v.text;
}

INSTANTIATE_TEST_SUITE_P(Ser2net, EachServerPort,
                         ::testing::Values(Ser2net::Kind::kRfc2217, Ser2net::Kind::kRawTcp),
                         [](const auto& info) {
                           return info.param == Ser2net::Kind::kRfc2217 ? "Rfc2217" : "RawTcp";
                         });

// The line's hard cases, each ending in an exact erase through the RFC 2217 port.
class LineVariantsOverRfc2217 : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(LineVariantsOverRfc2217, EraseCompletesAndTouchesOnlyTheUserRange) {
  ScratchDir dir;
  std::vector<std::string> options = GetParam();
  options.insert(options.end(), {"--sector-ms", "2", "--boot-ms", "300"});
  ServedBox served(dir, SwitchedOnAfterNetworkOpen(options), Ser2net::Kind::kRfc2217);
  SERVE_OR_SKIP(served);
  std::string name;
  for (const auto& o : GetParam()) name += o + " ";
  CliRun run = RunCli(dir, ThroughPorts(dir, served.server.Url()));
  EXPECT_EQ(run.exit.status, 0) << "boxsim " << name << "\n" << run.out << run.err;
  EXPECT_TRUE(
      InOrder(run.out, {"status: Receiver connected", "state:  WORKING", "state:  COMPLETE"}))
      << "boxsim " << name;
  served.box.Stop();
  VerifyOutcome v = VerifyFlash(dir, served.box.Image(), kUserFirst, kLast);
  EXPECT_EQ(v.status, 0) << "boxsim " << name << ": " << v.text;
}

INSTANTIATE_TEST_SUITE_P(
    HardCases, LineVariantsOverRfc2217,
    ::testing::Values(std::vector<std::string>{"--chunk-random", "--seed", "3"},
                      std::vector<std::string>{"--chunk-random", "--seed", "9", "--crlf"},
                      std::vector<std::string>{"--chunk-random", "--seed", "5", "--upper-x"}));

// Waits until the text appears in what the process wrote to standard output.
bool AwaitOutput(Process& p, const std::string& text, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (p.Stdout().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > end || p.Wait(0ms)) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(CliOverSerialServer, ServerKilledDuringTheEraseIsOneFailureWithoutSpin) {
  ScratchDir dir;
  ServedBox served(dir, SwitchedOnAfterNetworkOpen({"--fast", "--sector-ms", "50"}),
                   Ser2net::Kind::kRfc2217);
  SERVE_OR_SKIP(served);
  std::vector<std::string> args = ThroughPorts(dir, served.server.Url());
  args.insert(args.begin(), kCli);
  Process cli(args, dir.Path());
  ASSERT_TRUE(AwaitOutput(cli, "state:  WORKING", 30s)) << cli.Stdout() << cli.Stderr();
  served.server.Kill();
  const auto e = cli.Wait(30s);
  ASSERT_TRUE(e.has_value()) << "zanowipe-cli still runs after the server died:\n" << cli.Stdout();
  const std::string err = cli.Stderr();
  EXPECT_EQ(e->status, 1) << cli.Stdout() << err;
  std::size_t boxes = 0;
  for (std::size_t at = err.find("error box"); at != std::string::npos;
       at = err.find("error box", at + 1)) {
    ++boxes;
  }
  EXPECT_EQ(boxes, 1u) << "reported once:\n" << err;
  EXPECT_NE(err.find("1167"), std::string::npos) << "the device went away:\n" << err;
  EXPECT_EQ(cli.Stdout().find("state:  COMPLETE"), std::string::npos) << cli.Stdout();
  EXPECT_LT(e->cpuSeconds, kCpuLimitSeconds);
}

TEST(CliOverSerialServer, ARefusedConnectionAndAnUnknownHostSayWhy) {
  ScratchDir dir;
  const int port = FreeLoopbackPort();
  struct Case {
    std::string url;
    std::vector<std::string> said;
  };
  // An empty label fails in the resolver itself: no name server is asked.
  for (const Case& c :
       {Case{"rfc2217://127.0.0.1:" + std::to_string(port),
             {"(win error code: 1225)", "127.0.0.1 port " + std::to_string(port), "refused"}},
        Case{"tcp://box..bench:3001", {"(win error code: 67)", "box..bench"}},
        Case{"rfc2217://bench-a", {"(win error code: 123)", "no port number"}}}) {
    const auto start = std::chrono::steady_clock::now();
    CliRun run = RunCli(dir, ThroughPorts(dir, c.url));
    EXPECT_EQ(run.exit.status, 1) << c.url << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find("Unable to open com port"), std::string::npos) << c.url << run.err;
    EXPECT_NE(run.err.find("COM1 (" + c.url + ")"), std::string::npos) << c.url << run.err;
    for (const std::string& part : c.said) {
      EXPECT_NE(run.err.find(part), std::string::npos) << c.url << ": " << part << "\n" << run.err;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << c.url;
  }
}

// While the tool waits on a silent Box behind the server, nothing in it wakes: the engine
// sleeps on the socket, and keepalive is the kernel's own timer.
TEST(CliOverSerialServer, WaitingOnASilentBoxWakesNothing) {
  if (kRuntimeWakesItself) GTEST_SKIP() << "the sanitizer's own thread would be counted";
  ScratchDir dir;
  ServedBox served(dir, {"--fast", "--silent"}, Ser2net::Kind::kRfc2217);
  SERVE_OR_SKIP(served);
  Process cli({kCli, "--port", served.server.Url(), "--yes", "--timeout", "600"}, dir.Path());
  ASSERT_TRUE(AwaitOutput(cli, "COM Port opened", 30s)) << cli.Stdout() << cli.Stderr();
  std::this_thread::sleep_for(500ms);  // every thread reaches its wait
  const long before = ContextSwitches(cli.Pid());
  std::this_thread::sleep_for(6s);  // past the first keepalive probe
  const long after = ContextSwitches(cli.Pid());
  ASSERT_GE(before, 0);
  ASSERT_GE(after, before) << "zanowipe-cli ended:\n" << cli.Stdout() << cli.Stderr();
  EXPECT_LE(after - before, 4) << "context switches in 6 s of waiting on " << served.server.Url();
  cli.Signal(SIGINT);
  const auto e = cli.Wait(20s);
  ASSERT_TRUE(e.has_value()) << "zanowipe-cli did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
}

// Packets stop: loopback goes down in a network namespace of the test's own while the tool is
// waking the Box, so the line feeds it sends are never acknowledged and the server is never
// heard again. The kernel gives up on the connection (TCP_USER_TIMEOUT, keepalive) and the
// tool reports the device gone.
TEST(CliOverSerialServer, AServerThatStopsAnsweringIsNoticedWithinTheBound) {
  PrivateNetwork network;
  if (!network.Problem().empty()) GTEST_SKIP() << network.Problem();
  ScratchDir dir;
  ServedBox served(dir, SwitchedOnAfterNetworkOpen({"--fast", "--never-prompt"}),
                   Ser2net::Kind::kRfc2217);
  SERVE_OR_SKIP(served);
  std::vector<std::string> args = ThroughPorts(dir, served.server.Url());
  args.insert(args.begin(), kCli);
  Process cli(args, dir.Path());
  ASSERT_TRUE(AwaitOutput(cli, "sending stopbit (1)", 30s)) << cli.Stdout() << cli.Stderr();
  ASSERT_TRUE(network.SetLoopback(false)) << network.Problem();
  const auto pulled = std::chrono::steady_clock::now();
  const auto e = cli.Wait(40s);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - pulled).count();
  ASSERT_TRUE(e.has_value()) << "not noticed in 40 s:\n" << cli.Stdout() << cli.Stderr();
  EXPECT_EQ(e->status, 1) << cli.Stdout() << cli.Stderr();
  EXPECT_NE(cli.Stderr().find("1167"), std::string::npos) << cli.Stderr();
  EXPECT_LT(seconds, 25.0) << "noticed after " << seconds << " s";
  EXPECT_LT(e->cpuSeconds, kCpuLimitSeconds) << "the wait must be the kernel's, not ours";
}

}  // namespace
}  // namespace e2e
