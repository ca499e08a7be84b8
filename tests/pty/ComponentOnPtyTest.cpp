// TComX on the POSIX engine: opening errors as the component reports them, the tool's
// settings moving bytes both ways, the watcher delivering arrivals, and a hang-up; the last
// ones on the tty and on ser2net's network port in front of it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"
#include "tests/pty/EngineFixture.h"
#include "tests/pty/PtyPair.h"

namespace {

using namespace ptytest;
using Ms = std::chrono::milliseconds;

// The tool's serial configuration, on the port mapped to the pty.
void ConfigureLikeTheTool(TComX& port) {
  port.SetPort(COM1);
  port.SetBaudRate(br115200);
  port.SetDataBits(dbEight);
  port.SetStopBits(sbOneStopBit);
  port.SetDiscardNull(true);
  port.Timeouts().SetReadInterval(-1);
  port.Timeouts().SetReadTotalMultiplier(0);
  port.Timeouts().SetReadTotalConstant(100);
  port.Timeouts().SetWriteTotalMultiplier(100);
  port.Timeouts().SetWriteTotalConstant(10);
}

long ProcessCpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

class ComponentOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::MarkMainThread();
    drv::SetDeviceMapping("COM1", pty_.SlavePath());
  }
  void TearDown() override { drv::ClearDeviceMappings(); }
  PtyPair pty_;
};

// COM1 is the pty, or ser2net's RFC 2217 port whose connector is the pty.
class ComponentOnLine : public ComponentOnPty, public ::testing::WithParamInterface<LineKind> {
 protected:
  void SetUp() override {
    ComponentOnPty::SetUp();
    if (GetParam() == LineKind::kPty) return;
    server_ = std::make_unique<e2e::Ser2net>(pty_.SlavePath(), e2e::Ser2net::Kind::kRfc2217,
                                             scratch_.Path());
    if (e2e::Ser2net::Program().empty()) GTEST_SKIP() << server_->Problem();
    ASSERT_TRUE(server_->Ready()) << server_->Problem();
    drv::SetDeviceMapping("COM1", server_->Url());
  }
  e2e::ScratchDir scratch_;
  std::unique_ptr<e2e::Ser2net> server_;
};

TEST_F(ComponentOnPty, OpeningAMissingDeviceRaisesCode1WithNotFound) {
  drv::SetDeviceMapping("COM2", "/dev/zw-no-such-tty");
  TComX port;
  port.SetPort(COM2);
  try {
    port.Open();
    FAIL() << "Open succeeded on a missing device";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), 1);
    EXPECT_EQ(e.SystemErrorCode(), 2);
    EXPECT_EQ(e.Message(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComponentOnPty, OpeningABusyDeviceRaisesCode1WithAccessDenied) {
  TComX first;
  first.SetEvents(TEvents{});
  ConfigureLikeTheTool(first);
  first.Open();
  TComX second;
  second.SetPort(COM1);
  try {
    second.Open();
    FAIL() << "a second Open of the same device succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), 1);
    EXPECT_EQ(e.SystemErrorCode(), 5);
  }
  EXPECT_FALSE(second.Connected());
  first.Close();
}

TEST_P(ComponentOnLine, TheToolsSettingsMoveBytesBothWays) {
  TComX port;
  port.SetEvents(TEvents{});
  ConfigureLikeTheTool(port);
  port.Open();
  EXPECT_EQ(port.WriteString("\n"), 1);
  EXPECT_EQ(pty_.Receive(1, Ms(2000)), Bytes("\n"));

  pty_.Send(std::string("bo\0x> ", 6));
  const auto start = std::chrono::steady_clock::now();
  while (port.BytesWaiting() < 5 && std::chrono::steady_clock::now() - start < Ms(3000)) {
    std::this_thread::sleep_for(Ms(5));
  }
  ASSERT_EQ(port.BytesWaiting(), 5) << "the NUL byte is discarded by the driver";
  char buf[16] = {};
  ASSERT_EQ(port.Read(buf, 5), 5);
  EXPECT_EQ(std::string(buf, 5), "box> ");
  // Nothing queued: the tool's read returns empty after its 100 ms.
  EXPECT_EQ(port.Read(buf, 5), 0);
  port.Close();
}

TEST_P(ComponentOnLine, ArrivalsReachOnRxCharWithTheirCount) {
  TComX port;
  ConfigureLikeTheTool(port);
  port.SetSyncMethod(smNone);  // handlers on the watcher's thread: no main loop needed here
  std::atomic<int> received{0};
  port.OnRxChar = [&](TObject*, int count) {
    char buf[64];
    received += port.Read(buf, std::min(count, 64));
  };
  port.Open();
  pty_.Send("Booting...\n");
  const auto start = std::chrono::steady_clock::now();
  while (received < 11 && std::chrono::steady_clock::now() - start < Ms(3000)) {
    std::this_thread::sleep_for(Ms(5));
  }
  EXPECT_EQ(received.load(), 11);
  port.Close();
}

TEST_P(ComponentOnLine, ABacklogLargerThanTheQueueAtOpenStillReachesOnRxChar) {
  TComX port;
  ConfigureLikeTheTool(port);
  port.SetSyncMethod(smNone);
  std::string received;
  std::mutex m;
  port.OnRxChar = [&](TObject*, int count) {
    std::string buf(static_cast<std::size_t>(count), '\0');
    const int n = port.Read(buf.data(), count);
    std::lock_guard lock(m);
    received.append(buf.data(), static_cast<std::size_t>(n));
  };
  // Boot text the device wrote while the port was closed: more than the receive queue holds.
  std::string backlog;
  for (int i = 0; i < 3000; ++i) backlog += static_cast<char>('a' + i % 26);
  pty_.Send(backlog);
  port.Open();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::lock_guard lock(m);
      if (received.size() >= backlog.size()) break;
    }
    if (std::chrono::steady_clock::now() - start > Ms(5000)) break;
    std::this_thread::sleep_for(Ms(5));
  }
  port.Close();
  EXPECT_EQ(received, backlog);
}

TEST_P(ComponentOnLine, AHangUpEndsWatchingWithOneReportAndNoSpin) {
  std::mutex m;
  int reports = 0;
  rt::SetBackgroundErrorHandler([&](std::exception_ptr) {
    std::lock_guard lock(m);
    ++reports;
  });
  {
    TComX port;
    ConfigureLikeTheTool(port);
    port.SetSyncMethod(smNone);
    port.OnRxChar = [&](TObject*, int) {};
    port.Open();
    pty_.CloseMaster();
    std::this_thread::sleep_for(Ms(200));
    const long cpuBefore = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < Ms(500)) {
      rt::CheckSynchronize();
      std::this_thread::sleep_for(Ms(20));
    }
    EXPECT_LE(ProcessCpuMs() - cpuBefore, 60) << "CPU burned after the hang-up";
    EXPECT_TRUE(port.Connected()) << "the port stays open until closed";
    port.Close();
    EXPECT_FALSE(port.Connected());
  }
  rt::CheckSynchronize();
  std::lock_guard lock(m);
  EXPECT_EQ(reports, 1);
  rt::SetBackgroundErrorHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Lines, ComponentOnLine, EveryLine(), LineName);

}  // namespace
