// Open, Close, their order of driver calls and handlers, and what each does on failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

using Names = std::vector<std::string>;

// The calls up to and including the first one named last.
Names Prefix(const Names& names, std::size_t n) {
  return Names(names.begin(), names.begin() + static_cast<long>(std::min(n, names.size())));
}

class LifecycleTest : public PortTest {
 protected:
  LifecycleTest() {
    port.OnOpen = [this](TObject* sender) {
      EXPECT_EQ(sender, &port);
      log.push_back("OnOpen");
      callsAtOnOpen = fake.CallNames();
    };
    port.OnClose = [this](TObject* sender) {
      EXPECT_EQ(sender, &port);
      log.push_back("OnClose");
      callsAtOnClose = fake.CallNames();
    };
  }
  Names log;
  Names callsAtOnOpen;
  Names callsAtOnClose;
};

TEST_F(LifecycleTest, OpenAppliesLineTimeoutsBufferThenStartsTheWatcherThenOnOpen) {
  port.Open();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.ThreadStarted());
  EXPECT_NE(port.EventThread(), nullptr);
  EXPECT_EQ(log, Names{"OnOpen"});
  EXPECT_EQ(Prefix(callsAtOnOpen, 5),
            (Names{"CreateFileA", "SetCommState", "SetCommTimeouts", "SetupComm", "SetCommMask"}));
  const fake::FakeCall create = fake.Calls()[0];
  EXPECT_EQ(create.text, "COM1");
  EXPECT_EQ(create.args,
            (std::vector<std::uint32_t>{0xC0000000u, 0, 3 /*OPEN_EXISTING*/, 0x40000000u}));
  EXPECT_NE(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_EQ(fake.LastCall("SetCommState").handle, port.DeviceHandle());
  EXPECT_EQ(fake.LastCall("SetCommMask").args, std::vector<std::uint32_t>{0x05FF});
}

TEST_F(LifecycleTest, SettingsMadeWhileClosedAllReachTheDriverAtOpen) {
  port.SetBaudRate(br115200);
  port.Timeouts().SetReadTotalConstant(100);
  port.Buffer().SetInputSize(4096);
  port.SetEvents({});
  port.Open();
  EXPECT_EQ(fake.LastCall("SetCommState").dcb.BaudRate, 115200u);
  EXPECT_EQ(fake.LastCall("SetCommState").dcb.XonLim, 1024);
  EXPECT_EQ(fake.LastCall("SetCommTimeouts").timeouts.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(fake.LastCall("SetupComm").args, (std::vector<std::uint32_t>{4096, 1024}));
}

TEST_F(LifecycleTest, OpenOnAnOpenPortAndCloseOnAClosedPortDoNothing) {
  port.Close();
  EXPECT_TRUE(fake.Calls().empty());
  OpenQuietly();
  log.clear();
  port.Open();
  EXPECT_EQ(fake.CountOf("CreateFileA"), 0);
  EXPECT_EQ(fake.CountOf("SetCommState"), 0);
  EXPECT_TRUE(log.empty());
  port.Close();
  fake.ClearCalls();
  log.clear();
  port.Close();
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(LifecycleTest, CloseAbortsTransfersStopsTheWatcherClosesTheDeviceThenOnClose) {
  OpenQuietly();
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(log, (Names{"OnOpen", "OnClose"}));
  // The purge of Close comes first (abort flags only), the watcher's last purge (all four
  // flags) before the handle is closed.
  std::vector<std::uint32_t> purges;
  for (const fake::FakeCall& c : fake.Calls()) {
    if (c.name == "PurgeComm") purges.push_back(c.args[0]);
  }
  EXPECT_EQ(purges, (std::vector<std::uint32_t>{3, 15}));
  EXPECT_EQ(callsAtOnClose.front(), "PurgeComm");
  EXPECT_EQ(callsAtOnClose.back(), "CloseHandle");
  EXPECT_EQ(fake.CountOf("CloseHandle"), 1);
}

TEST_F(LifecycleTest, ARefusedEventMaskStillOpensAndTheWatcherSaysOnceThatItCannotWait) {
  ReportCollector reports;
  fake.FailNext("SetCommMask", 87);
  port.Open();  // the mask's result is not the open's business
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.ThreadStarted());
  EXPECT_EQ(log, Names{"OnOpen"});
  // With no mask the driver refuses every wait: one report, then no further attempt.
  ASSERT_TRUE(PumpUntil([&] { return reports.Count() == 1; }));
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(reports.Count(), 1u);
  EXPECT_EQ(MessageOf(reports.Reports()[0]), "Unable to get async status (win error code: 87)");
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 1);
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(log, (Names{"OnOpen", "OnClose"}));
}

TEST_F(LifecycleTest, RefusedLineSettingsAtOpenCloseTheDeviceAndRaiseCode7) {
  fake.FailNext("SetCommState", 31);
  const EComPort e = CatchComPort([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode(), 7);
  EXPECT_EQ(e.SystemErrorCode(), 31);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_EQ(fake.CallNames(), (Names{"CreateFileA", "SetCommState", "CloseHandle"}));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(port.EventThread(), nullptr);
}

TEST_F(LifecycleTest, RefusedTimeoutsOrQueueSizesAtOpenEndTheSequenceThere) {
  fake.FailNext("SetCommTimeouts", 87);
  EXPECT_EQ(CatchComPort([&] { port.Open(); }).ErrorCode(), 8);
  EXPECT_EQ(fake.CallNames(),
            (Names{"CreateFileA", "SetCommState", "SetCommTimeouts", "CloseHandle"}));
  fake.ClearCalls();
  fake.FailNext("SetupComm", 87);
  EXPECT_EQ(CatchComPort([&] { port.Open(); }).ErrorCode(), 9);
  EXPECT_EQ(fake.CallNames(),
            (Names{"CreateFileA", "SetCommState", "SetCommTimeouts", "SetupComm", "CloseHandle"}));
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(log.empty());
  // The device is free again: a later Open succeeds.
  port.Open();
  EXPECT_TRUE(port.Connected());
}

TEST_F(LifecycleTest, MissingOrBusyDeviceRaisesCode1WithTheSystemsError) {
  port.SetPort(COM3);  // never registered
  EComPort e = CatchComPort([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(e.SystemErrorCode(), 2);
  EXPECT_EQ(e.Message(), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_EQ(fake.CallNames(), Names{"CreateFileA"});

  TComX other(&fake);
  other.SetEvents({});
  other.Open();
  port.SetPort(COM1);
  e = CatchComPort([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(e.SystemErrorCode(), 5);
  EXPECT_TRUE(log.empty());
}

TEST_F(LifecycleTest, RefusedPurgeKeepsThePortOpenWithItsWatcherAndALaterCloseWorks) {
  OpenQuietly();
  fake.FailNext("PurgeComm", 5);
  const EComPort e = CatchComPort([&] { port.Close(); });
  EXPECT_EQ(e.ErrorCode(), 5);
  EXPECT_EQ(e.SystemErrorCode(), 5);
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.EventThread(), nullptr);
  EXPECT_EQ(fake.CountOf("CloseHandle"), 0);
  EXPECT_EQ(log, Names{"OnOpen"});
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(log, (Names{"OnOpen", "OnClose"}));
}

TEST_F(LifecycleTest, PortChangeOnAnOpenPortClosesAndReopensOnTheNewDevice) {
  OpenQuietly();
  log.clear();
  port.SetPort(COM2);
  EXPECT_EQ(log, (Names{"OnClose", "OnOpen"}));
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.LastCall("CreateFileA").text, "COM2");
  EXPECT_EQ(fake.CountOf("SetCommState"), 1);  // settings applied afresh
  EXPECT_NE(port.EventThread(), nullptr);
}

TEST_F(LifecycleTest, PortChangeToAMissingDeviceEndsClosedWithTheNewValue) {
  OpenQuietly();
  log.clear();
  const EComPort e = CatchComPort([&] { port.SetPort(COM4); });
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(port.Port(), COM4);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(log, Names{"OnClose"});
}

TEST_F(LifecycleTest, PortChangeWhoseCloseIsRefusedStaysOnTheOldDevice) {
  OpenQuietly();
  const drv::Handle before = port.DeviceHandle();
  log.clear();
  fake.FailNext("PurgeComm", 22);
  const EComPort e = CatchComPort([&] { port.SetPort(COM2); });
  EXPECT_EQ(e.ErrorCode(), 5);
  EXPECT_EQ(port.Port(), COM2);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), before);
  EXPECT_EQ(fake.CountOf("CreateFileA"), 0);
  EXPECT_TRUE(log.empty());
}

TEST_F(LifecycleTest, PortChangeOnAClosedPortOnlyStores) {
  port.SetPort(COM2);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(LifecycleTest, EmptyEventsOpenWithoutWatcherOrWindow) {
  port.SetEvents({});
  port.SetSyncMethod(smWindowSync);
  port.Open();
  EXPECT_FALSE(port.ThreadStarted());
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(port.SyncWindow(), nullptr);
  EXPECT_EQ(fake.CountOf("SetCommMask"), 0);
  EXPECT_EQ(log, Names{"OnOpen"});
  port.Close();
  EXPECT_EQ(fake.CallNames().back(), "CloseHandle");
  EXPECT_EQ(fake.CountOf("PurgeComm"), 1);  // only Close's own: no watcher to purge
  EXPECT_EQ(log, (Names{"OnOpen", "OnClose"}));
}

// Records whether the hidden window existed when the watcher told the driver its mask and
// when it made its last purge.
class WindowWitnessDriver : public fake::FakeCommDriver {
 public:
  TComX* port = nullptr;
  bool windowAtMask = false;
  bool windowAtFinalPurge = false;
  bool SetCommMask(drv::Handle h, std::uint32_t mask) override {
    windowAtMask = port->SyncWindow() != nullptr;
    return FakeCommDriver::SetCommMask(h, mask);
  }
  bool PurgeComm(drv::Handle h, std::uint32_t flags) override {
    if (flags == 15) windowAtFinalPurge = port->SyncWindow() != nullptr;
    return FakeCommDriver::PurgeComm(h, flags);
  }
};

TEST(LifecycleWindowTest, WindowSyncWindowOutlivesTheWatcher) {
  WindowWitnessDriver driver;
  driver.AddDevice("COM1");
  TComX port(&driver);
  driver.port = &port;
  port.SetSyncMethod(smWindowSync);
  port.Open();
  EXPECT_TRUE(driver.windowAtMask);
  EXPECT_NE(port.SyncWindow(), nullptr);
  port.Close();
  EXPECT_TRUE(driver.windowAtFinalPurge);
  EXPECT_EQ(port.SyncWindow(), nullptr);
}

TEST(LifecycleWindowTest, OtherMethodsCreateNoWindow) {
  fake::FakeCommDriver driver;
  driver.AddDevice("COM1");
  TComX port(&driver);
  port.Open();
  EXPECT_EQ(port.SyncWindow(), nullptr);
}

TEST(LifecycleDestroyTest, DestroyingAnOpenPortClosesItFirst) {
  fake::FakeCommDriver driver;
  driver.AddDevice("COM1");
  std::vector<std::string> log;
  {
    TComX port(&driver);
    port.OnClose = [&](TObject*) {
      log.push_back("OnClose");
      // The settings objects still exist while Close runs.
      log.push_back(std::to_string(port.Buffer().InputSize()));
    };
    port.Open();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"OnClose", "1024"}));
  EXPECT_EQ(driver.CountOf("CloseHandle"), 1);
  EXPECT_FALSE(driver.IsOpen());
}

TEST(LifecycleDestroyTest, DestroyingAPortWhosePurgeIsRefusedStillStopsAndReleases) {
  fake::FakeCommDriver driver;
  driver.AddDevice("COM1");
  {
    TComX port(&driver);
    port.Open();
    driver.FailAlways("PurgeComm", 5);
  }
  EXPECT_EQ(driver.CountOf("CloseHandle"), 1);
  EXPECT_FALSE(driver.IsOpen());
}

// The three device operations are reached through their virtual entries.
class CountingPort : public TComX {
 public:
  using TComX::TComX;
  std::vector<std::string> log;
  bool refuseSettings = false;
  void OpenDevice() override {
    log.push_back("OpenDevice");
    TComX::OpenDevice();
  }
  void CloseDevice() override {
    log.push_back("CloseDevice");
    TComX::CloseDevice();
  }
  void ApplySettings() override {
    log.push_back("ApplySettings");
    if (refuseSettings) throw Exception("refused");
    TComX::ApplySettings();
  }
};

TEST(LifecycleVirtualTest, OpenAndCloseGoThroughTheOverridableOperations) {
  fake::FakeCommDriver driver;
  driver.AddDevice("COM1");
  CountingPort port(&driver);
  port.SetEvents({});
  port.Open();
  port.Close();
  EXPECT_EQ(port.log, (std::vector<std::string>{"OpenDevice", "ApplySettings", "CloseDevice"}));
  port.log.clear();
  port.refuseSettings = true;
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "refused");  // the same exception, unchanged
  }
  EXPECT_EQ(port.log, (std::vector<std::string>{"OpenDevice", "ApplySettings", "CloseDevice"}));
  EXPECT_FALSE(port.Connected());
}

TEST_F(LifecycleTest, WriteOnAClosedPortFailsInItsDriverCall) {
  port.Open();
  port.Close();
  const EComPort e = CatchComPort([&] { port.Write("x", 1); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), 6);
  EXPECT_EQ(fake.LastCall("WriteFile").handle, drv::kInvalidHandle);
}

}  // namespace
}  // namespace serial_test
