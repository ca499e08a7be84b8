// Network ports through the POSIX driver against a scripted server on loopback: opening and
// its failures, the settings and their confirmations, bytes both ways, the server's
// notifications and flow control, purges, and a connection that ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "runtime/Event.h"
#include "serial/driver/CommDriver.h"
#include "serial/driver/DeviceMap.h"
#include "serial/driver/posix/engine/ErrnoToWinError.h"
#include "serial/driver/posix/net/NetConnect.h"
#include "serial/driver/posix/net/NetLine.h"
#include "tests/unit/serial/posix/ScriptedServer.h"

namespace {

using namespace nettest;
namespace rfc2217 = drv::posix::rfc2217;
using Clock = std::chrono::steady_clock;

drv::CommDriver& D() {
  return drv::DefaultCommDriver();
}

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

drv::Handle Open(const std::string& name) {
  return D().CreateFileA(name.c_str(), drv::kGenericRead | drv::kGenericWrite, 0,
                         drv::kOpenExisting, drv::kFileFlagOverlapped);
}

drv::Dcb ToolDcb() {
  drv::Dcb dcb;
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = drv::kFBinary;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

drv::CommTimeouts Timeouts(std::uint32_t interval, std::uint32_t multiplier,
                           std::uint32_t constant) {
  drv::CommTimeouts t;
  t.ReadIntervalTimeout = interval;
  t.ReadTotalTimeoutMultiplier = multiplier;
  t.ReadTotalTimeoutConstant = constant;
  return t;
}

struct Transfer {
  rt::Event event{true, true};
  drv::Overlapped ov;
  Transfer() { ov.hEvent = event.Handle(); }
  bool WaitDone(Ms limit) { return event.Wait(static_cast<std::uint32_t>(limit.count())); }
};

// What the driver writes to standard error while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    file_ = std::tmpfile();
    ::dup2(::fileno(file_), 2);
  }
  ~StderrCapture() { Restore(); }
  std::string Text() {
    Restore();
    std::rewind(file_);
    std::string text;
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

// Context switches of the thread of this process with that name so far, or -1.
long ContextSwitchesOf(const std::string& threadName) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name != threadName) continue;
    std::ifstream status(task.path() / "status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
    return total;
  }
  return -1;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// An open network port with the tool's line, closed at the end.
class NetPort : public ::testing::Test {
 protected:
  void OpenTo(ScriptedServer& server) {
    h_ = Open(server.Url());
    ASSERT_NE(h_, drv::kInvalidHandle)
        << server.Url() << ": " << D().GetLastError() << " " << drv::OpenFailureDetail();
    ASSERT_TRUE(server.AwaitClient(Ms(5000)));
  }
  void TearDown() override {
    if (h_ != drv::kInvalidHandle) D().CloseHandle(h_);
  }
  std::string ReadAll(std::size_t atLeast) {
    std::string got;
    EXPECT_TRUE(D().SetCommTimeouts(h_, Timeouts(drv::kMaxDword, 0, 0)));
    const auto start = Clock::now();
    while (got.size() < atLeast && ElapsedMs(start) < 5000) {
      std::uint8_t buf[512];
      std::uint32_t done = 0;
      Transfer t;
      EXPECT_TRUE(D().ReadFile(h_, buf, sizeof buf, &done, &t.ov)) << D().GetLastError();
      got.append(buf, buf + done);
      if (done == 0) std::this_thread::sleep_for(Ms(5));
    }
    return got;
  }
  drv::Handle h_ = drv::kInvalidHandle;
};

TEST_F(NetPort, TheToolsSettingsAreAskedForAndUnansweredOnesCostOneBoundedWait) {
  ScriptedServer::Behaviour b;
  b.unansweredControls = {rfc2217::kDtrOn, rfc2217::kDtrOff, rfc2217::kRtsOn, rfc2217::kRtsOff};
  ScriptedServer server(b);
  OpenTo(server);
  StderrCapture notes;
  auto start = Clock::now();
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  const long first = ElapsedMs(start);
  start = Clock::now();
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  const long second = ElapsedMs(start);
  const std::string text = notes.Text();

  EXPECT_GE(first, 350) << "the first settings wait for DTR's and RTS's answers";
  EXPECT_LT(first, 3000) << "and no longer than a bounded time";
  EXPECT_LT(second, first) << "kinds left unanswered are not waited for again";
  EXPECT_EQ(Count(text, "did not confirm DTR off, RTS off"), 1u) << text;
  EXPECT_NE(text.find(server.Url()), std::string::npos) << text;

  // The notification masks first, then the settings twice.
  std::vector<rfc2217::Request> expected = rfc2217::NotificationMasks();
  for (int i = 0; i < 2; ++i) {
    for (const auto& r : rfc2217::RequestsFor(ToolDcb())) expected.push_back(r);
  }
  ASSERT_TRUE(server.AwaitRequests(expected.size(), Ms(5000)));
  EXPECT_EQ(server.Requests(), expected);
}

TEST_F(NetPort, AServerThatAnswersEverySettingCostsNoNote) {
  ScriptedServer server({});
  OpenTo(server);
  StderrCapture notes;
  drv::Dcb dcb = ToolDcb();
  dcb.BaudRate = 9600;
  dcb.Parity = drv::kEvenParity;
  ASSERT_TRUE(D().SetCommState(h_, dcb)) << D().GetLastError();
  EXPECT_EQ(notes.Text(), "");
  ASSERT_TRUE(server.AwaitRequests(2 + rfc2217::RequestsFor(dcb).size(), Ms(5000)));
  const auto requests = server.Requests();
  EXPECT_EQ(requests[2], (rfc2217::Request{rfc2217::kSetBaudRate, {0, 0, 0x25, 0x80}}));
  EXPECT_EQ(requests[4], (rfc2217::Request{rfc2217::kSetParity, {3}})) << "even";
}

TEST_F(NetPort, EveryByteValueGoesBothWays) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  all.insert(all.end(), {0xFF, 0xFF, '\r', 0, '\r', '\n'});

  server.SendData(all);
  const std::string got = ReadAll(all.size());
  EXPECT_EQ(got, std::string(all.begin(), all.end()));

  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(D().WriteFile(h_, all.data(), static_cast<std::uint32_t>(all.size()), &done, &t.ov));
  ASSERT_TRUE(server.AwaitData(all.size(), Ms(5000)));
  EXPECT_EQ(server.Data(), all);
  std::uint32_t errors = 0;
  drv::ComStat stat;
  ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(errors, 0u) << "0xFF is data on a network line";
}

TEST_F(NetPort, RawTcpCarriesBytesOnlyAndSendsNoSettings) {
  ScriptedServer::Behaviour b;
  b.telnet = false;
  ScriptedServer server(b);
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << "the server's settings apply; accepted";
  ASSERT_TRUE(D().PurgeComm(h_, 15));
  const Bytes bytes = {0xFF, 0xFF, 'a', '\r', 0, 0xFA, 0xF0};
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(
      D().WriteFile(h_, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &done, &t.ov));
  ASSERT_TRUE(server.AwaitData(bytes.size(), Ms(5000)));
  std::this_thread::sleep_for(Ms(100));
  EXPECT_EQ(server.Raw(), bytes) << "no negotiation, no requests, no escaping";
  server.SendRaw(bytes);
  EXPECT_EQ(ReadAll(bytes.size()), std::string(bytes.begin(), bytes.end()));
  std::uint32_t status = 0xFFFF;
  ASSERT_TRUE(D().GetCommModemStatus(h_, &status));
  EXPECT_EQ(status, 0u);
}

TEST_F(NetPort, WhatTheServerSaysWhileTheOptionsAreSettledIsKept) {
  // Ahead of its answers to the options, as a device server that was already passing the
  // device's output might: the port reads it while it waits for those answers.
  ScriptedServer::Behaviour b;
  b.greeting = {'b', 'o', 'o', 't', 0xFF};
  ScriptedServer server(b);
  OpenTo(server);
  EXPECT_EQ(ReadAll(5), "boot\xFF");
}

TEST_F(NetPort, NotificationsBecomeEventsLineErrorsAndModemStatus) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvCts | drv::kEvDsr | drv::kEvRlsd | drv::kEvRing |
                                      drv::kEvErr | drv::kEvBreak | drv::kEvRxChar));
  std::uint32_t events = 0;
  Transfer wait;
  ASSERT_FALSE(D().WaitCommEvent(h_, &events, &wait.ov));
  ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
  server.SendComPort(107, {0x80 | 0x08});  // carrier detect now high
  ASSERT_TRUE(wait.WaitDone(Ms(5000)));
  EXPECT_EQ(events, drv::kEvRlsd);
  std::uint32_t status = 0;
  ASSERT_TRUE(D().GetCommModemStatus(h_, &status));
  EXPECT_EQ(status, drv::kMsRlsdOn);

  Transfer next;
  ASSERT_FALSE(D().WaitCommEvent(h_, &events, &next.ov));
  server.SendComPort(106, {0x08 | 0x10});  // framing error and a break
  ASSERT_TRUE(next.WaitDone(Ms(5000)));
  EXPECT_EQ(events, drv::kEvErr | drv::kEvBreak);
  std::uint32_t errors = 0;
  drv::ComStat stat;
  ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(errors, drv::kCeFrame | drv::kCeBreak);
}

TEST_F(NetPort, SuspendedFlowHoldsTheDataWithoutSpinningAndResumeReleasesIt) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  // The byte behind the suspension is read only after the suspension has been taken.
  server.SendComPort(108, {});
  server.SendData({'s'});
  ASSERT_EQ(ReadAll(1), "s");
  const std::string line = "held\n";
  std::uint32_t done = 0;
  Transfer write;
  ASSERT_FALSE(
      D().WriteFile(h_, line.data(), static_cast<std::uint32_t>(line.size()), &done, &write.ov));
  ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
  const long switchesBefore = ContextSwitchesOf("zwnet-" + std::to_string(h_));
  ASSERT_GE(switchesBefore, 0) << "no engine thread";
  EXPECT_FALSE(server.AwaitData(1, Ms(500))) << "data sent while the server suspended it";
  EXPECT_FALSE(write.WaitDone(Ms(0)));
  EXPECT_LE(ContextSwitchesOf("zwnet-" + std::to_string(h_)) - switchesBefore, 10)
      << "engine context switches in 0.5 s of a suspended write";

  server.SendComPort(109, {});
  ASSERT_TRUE(write.WaitDone(Ms(5000)));
  ASSERT_TRUE(server.AwaitData(line.size(), Ms(5000)));
  EXPECT_EQ(server.Data(), Bytes(line.begin(), line.end()));
}

// A RESUME that another call takes in (here ClearCommError, looping on two threads) wakes the
// thread that leads for the suspended write: it has to wait for the socket now.
TEST_F(NetPort, AResumeTakenInByAnotherCallReleasesTheWaitingWrite) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  std::string expected;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    server.SendComPort(108, {});
    server.SendData({'s'});
    ASSERT_EQ(ReadAll(1), "s") << "the suspension taken in";
    const std::string line = "round " + std::to_string(round) + "\n";
    expected += line;
    Transfer write;
    std::uint32_t done = 0;
    ASSERT_FALSE(
        D().WriteFile(h_, line.data(), static_cast<std::uint32_t>(line.size()), &done, &write.ov));
    std::atomic<Clock::time_point> resumed{};
    std::atomic<long> late{-1};
    std::thread writer([&] {
      if (write.WaitDone(Ms(4000))) late = ElapsedMs(resumed);
    });
    std::atomic<bool> stop{false};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 2; ++i) {
      pollers.emplace_back([&] {
        while (!stop) {
          std::uint32_t errors = 0;
          drv::ComStat stat;
          D().ClearCommError(h_, &errors, &stat);
        }
      });
    }
    std::this_thread::sleep_for(Ms(50));
    resumed = Clock::now();
    server.SendComPort(109, {});
    writer.join();
    stop = true;
    for (auto& p : pollers) p.join();
    if (!write.WaitDone(Ms(0))) {
      ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeTxAbort));
    }
    ASSERT_TRUE(write.WaitDone(Ms(3000)));
    EXPECT_GE(late.load(), 0) << "the write never completed";
    EXPECT_LT(late.load(), 2000) << "ms from RESUME to the write's completion";
  }
  ASSERT_TRUE(server.AwaitData(expected.size(), Ms(5000)));
  EXPECT_EQ(server.Data(), Bytes(expected.begin(), expected.end()));
}

// PurgeComm's transmit clear drops what the line still holds of written data, as tcflush drops
// a tty's output queue; what went to the socket before is the kernel's.
TEST_F(NetPort, TransmitClearDropsDataTheLineStillHolds) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  server.HoldReading(true);
  const std::vector<std::uint8_t> block(64 * 1024, 'x');
  std::uint64_t accepted = 0;
  Transfer t;
  bool pending = false;
  // Until the sockets' buffers are full and a write is left with the line.
  for (int i = 0; i < 2000 && !pending; ++i) {
    std::uint32_t done = 0;
    if (D().WriteFile(h_, block.data(), static_cast<std::uint32_t>(block.size()), &done, &t.ov)) {
      accepted += done;
    } else {
      ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
      pending = true;
    }
  }
  ASSERT_TRUE(pending) << "130 MB went out without a write left pending";
  ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeTxAbort | drv::kPurgeTxClear));
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  std::uint32_t done = 0;
  EXPECT_FALSE(D().GetOverlappedResult(h_, &t.ov, &done, false));
  EXPECT_EQ(D().GetLastError(), drv::kErrorOperationAborted);
  accepted += done;
  server.HoldReading(false);
  std::uint32_t endDone = 0;
  Transfer end;
  if (!D().WriteFile(h_, "END", 3, &endDone, &end.ov)) {
    ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
  }
  ASSERT_TRUE(end.WaitDone(Ms(10000)));
  Bytes data;
  const auto start = Clock::now();
  do {
    data = server.Data();
    if (data.size() >= 3 && std::equal(data.end() - 3, data.end(), "END")) break;
    std::this_thread::sleep_for(Ms(10));
  } while (ElapsedMs(start) < 10000);
  ASSERT_GE(data.size(), 3u);
  EXPECT_EQ(std::string(data.end() - 3, data.end()), "END");
  const auto sent = static_cast<std::uint64_t>(std::count(data.begin(), data.end(), 'x'));
  EXPECT_LT(sent, accepted) << "every byte the writes handed over reached the server, also what "
                               "the line still held at the purge";
}

TEST_F(NetPort, PurgeAsksTheServerToPurgeAndClearsTheQueueAndTheSocket) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  // A small queue: most of what came stays in the socket, as bytes stay in a tty's kernel.
  ASSERT_TRUE(D().SetupComm(h_, 16, 16));
  server.SendData(Bytes(200, 's'));
  const auto start = Clock::now();
  std::uint32_t errors = 0;
  drv::ComStat stat;
  do {
    ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  } while (stat.cbInQue < 200 && ElapsedMs(start) < 5000);
  ASSERT_EQ(stat.cbInQue, 200u) << "queue and socket";
  const std::size_t before = server.Requests().size();
  ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeRxClear | drv::kPurgeTxClear));
  ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u) << "what had arrived before the purge, in the queue or the socket";
  ASSERT_TRUE(server.AwaitRequests(before + 1, Ms(5000)));
  EXPECT_EQ(server.Requests().back(), (rfc2217::Request{rfc2217::kPurgeData, {3}}));
  server.SendData({'n', 'e', 'w'});
  EXPECT_EQ(ReadAll(3), "new") << "what comes after the purge";
}

TEST_F(NetPort, AConnectionThatEndsIsTheDeviceGoingAwayOnce) {
  ScriptedServer server({});
  OpenTo(server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  ASSERT_TRUE(D().SetCommTimeouts(h_, Timeouts(0, 0, 0)));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  std::uint32_t events = 0;
  Transfer wait;
  ASSERT_FALSE(D().WaitCommEvent(h_, &events, &wait.ov));
  server.SendData({'b', 'y', 'e'});
  ASSERT_TRUE(wait.WaitDone(Ms(5000)));
  server.CloseClient();

  std::uint8_t buf[8];
  std::uint32_t done = 0;
  Transfer first;
  if (!D().ReadFile(h_, buf, sizeof buf, &done, &first.ov)) {
    ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
    ASSERT_TRUE(first.WaitDone(Ms(5000)));
    D().GetOverlappedResult(h_, &first.ov, &done, false);
  }
  EXPECT_EQ(std::string(buf, buf + done), "bye") << "what came before the end is delivered";
  Transfer later;
  EXPECT_FALSE(D().ReadFile(h_, buf, sizeof buf, &done, &later.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected);
  Transfer write;
  EXPECT_FALSE(D().WriteFile(h_, "x", 1, &done, &write.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected);
  EXPECT_TRUE(D().PurgeComm(h_, 15)) << "a port whose device has gone can still be purged";
}

TEST_F(NetPort, AnIpv6AddressInBrackets) {
  ScriptedServer::Behaviour b;
  b.ipv6 = true;
  std::unique_ptr<ScriptedServer> server;
  try {
    server = std::make_unique<ScriptedServer>(b);
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  ASSERT_EQ(server->Url().rfind("rfc2217://[::1]:", 0), 0u) << server->Url();
  OpenTo(*server);
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  server->SendData({'o', 'k'});
  EXPECT_EQ(ReadAll(2), "ok");
}

// ---- opening ----

int UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

TEST(NetOpen, FailuresNameHostPortAndReasonWithTheOpensError) {
  const int port = UnusedLoopbackPort();
  struct Case {
    std::string name;
    std::uint32_t error;
    std::vector<std::string> detail;
  };
  const std::vector<Case> cases = {
      {"rfc2217://127.0.0.1:" + std::to_string(port),
       drv::posix::kErrorConnectionRefused,
       {"127.0.0.1 port " + std::to_string(port), "refused"}},
      {"tcp://127.0.0.1:" + std::to_string(port),
       drv::posix::kErrorConnectionRefused,
       {"127.0.0.1 port " + std::to_string(port), "refused"}},
      // An empty label fails in the resolver itself: no name server is asked.
      {"rfc2217://box..bench:3001", drv::posix::kErrorBadNetName, {"box..bench"}},
      {"rfc2217://bench-a", drv::posix::kErrorInvalidName, {"no port number"}},
      {"rfc2217://bench-a:0", drv::posix::kErrorInvalidName, {"1 to 65535"}},
      {"tcp://bench-a:70000", drv::posix::kErrorInvalidName, {"1 to 65535"}},
  };
  for (const Case& c : cases) {
    const auto start = Clock::now();
    EXPECT_EQ(Open(c.name), drv::kInvalidHandle) << c.name;
    EXPECT_EQ(D().GetLastError(), c.error) << c.name;
    const std::string detail = drv::OpenFailureDetail();
    for (const std::string& part : c.detail) {
      EXPECT_NE(detail.find(part), std::string::npos) << c.name << ": " << detail;
    }
    EXPECT_LT(ElapsedMs(start), 5000) << c.name;
  }
  // A successful open leaves no detail behind.
  ScriptedServer server({});
  const drv::Handle h = Open(server.Url());
  EXPECT_NE(h, drv::kInvalidHandle);
  EXPECT_EQ(drv::OpenFailureDetail(), "");
  D().CloseHandle(h);
}

// A network port's name works wherever a device path does: directly, or as a COMn mapping
// from the settings file; it is never taken for a path to resolve.
TEST(NetOpen, NamesWorkDirectlyAndThroughTheDeviceMap) {
  ScriptedServer server({});
  const std::string url = server.Url();
  EXPECT_EQ(drv::ResolveDeviceName(url), url);
  drv::SetDeviceMapping("COM3", url);
  EXPECT_EQ(drv::ResolveDeviceName("com3"), url);
  EXPECT_EQ(drv::CanonicalDeviceName("COM3"), url);
  const drv::Handle h = Open("COM3");
  drv::ClearDeviceMappings();
  ASSERT_NE(h, drv::kInvalidHandle) << D().GetLastError() << " " << drv::OpenFailureDetail();
  EXPECT_TRUE(server.AwaitClient(Ms(5000)));
  D().CloseHandle(h);
}

// A resolver stuck on an unreachable name server is left behind at the limit. Let go at the
// end, it fails without asking any name server, and says it has left, so that nothing it
// touched is destroyed under it when the program ends.
std::mutex resolverMutex;
std::condition_variable resolverChanged;
bool resolverReleased = false;
bool resolverLeft = false;

int HangingResolve(const char*, const char*, const addrinfo* hints, addrinfo**) {
  if (hints->ai_flags & AI_NUMERICHOST) return EAI_NONAME;  // a name, not an address
  std::unique_lock lock(resolverMutex);
  resolverChanged.wait(lock, [] { return resolverReleased; });
  resolverLeft = true;
  resolverChanged.notify_all();
  return EAI_NONAME;
}

TEST(NetOpen, NameResolutionHasABoundedTime) {
  drv::posix::Resolver().resolve = &HangingResolve;
  drv::posix::NetLineLimits limits;
  limits.connect = Ms(300);
  std::uint32_t error = 0;
  std::string reason;
  const auto start = Clock::now();
  const auto line = drv::posix::NetLine::Open("rfc2217://bench-a:3001", &error, &reason, limits);
  const long elapsed = ElapsedMs(start);
  drv::posix::Resolver() = drv::posix::SystemResolverCalls();
  {
    // The abandoned lookup ends and frees what it holds.
    std::unique_lock lock(resolverMutex);
    resolverReleased = true;
    resolverChanged.notify_all();
    EXPECT_TRUE(
        resolverChanged.wait_for(lock, std::chrono::seconds(10), [] { return resolverLeft; }));
  }

  EXPECT_FALSE(line);
  EXPECT_EQ(error, drv::posix::kErrorSemTimeout);
  EXPECT_NE(reason.find("bench-a"), std::string::npos) << reason;
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 3000);
}

// A dead peer must be noticed by the kernel within about 15 s, with no timer of the engine's.
TEST(NetOpen, TheConnectionIsWatchedByTheKernelsOwnTimers) {
  ScriptedServer server({});
  std::uint32_t error = 0;
  std::string reason;
  const auto line = drv::posix::NetLine::Open(server.Url(), &error, &reason);
  ASSERT_TRUE(line) << reason;
  auto option = [&](int level, int name) {
    int value = -1;
    socklen_t len = sizeof value;
    EXPECT_EQ(::getsockopt(line->Fd(), level, name, &value, &len), 0);
    return value;
  };
  EXPECT_EQ(option(IPPROTO_TCP, TCP_NODELAY), 1) << "single line feeds go out at once";
  EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
  const int silence = option(IPPROTO_TCP, TCP_KEEPIDLE) +
                      option(IPPROTO_TCP, TCP_KEEPINTVL) * option(IPPROTO_TCP, TCP_KEEPCNT);
  EXPECT_LE(silence, 15) << "seconds until keepalive gives up on an idle connection";
  const int unacknowledged = option(IPPROTO_TCP, TCP_USER_TIMEOUT);
  EXPECT_GT(unacknowledged, 0);
  EXPECT_LE(unacknowledged, 15000) << "ms that sent data may stay unacknowledged";
}

}  // namespace
