// Faults at the port component on the termios engine: a pty plays the device. These are the
// cases the window cannot provoke on its own (a purge with transfers in flight, a write that
// times out) and the byte-exact checks behind the window's floods.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/Event.h"
#include "runtime/posix/EventDriver.h"
#include "serial/CportX1.h"
#include "serial/driver/CommDriver.h"
#include "serial/driver/DeviceMap.h"
#include "tests/faults/ProcessWatch.h"
#include "tests/faults/PtyDevice.h"

namespace faults {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The tool's line, watched from the event thread itself (no main thread needed).
class PortFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    drv::ClearDeviceMappings();
    drv::SetDeviceMapping("COM1", box.Path());
    // The test thread's wake-up for its waits on a port is its own, kept for later waits, not
    // the port's: made before counting, so that what is counted is what a port leaves behind.
    ASSERT_GE(rt::WakeFdOfThisThread(), 0);
    before = Snapshot();
    port.SetPort(COM1);
    port.SetBaudRate(br115200);
    port.SetDiscardNull(true);
    port.SetSyncMethod(smNone);
    port.OnRxChar = [this](TObject*, int count) {
      std::vector<char> buf(static_cast<std::size_t>(count));
      const int n = port.Read(buf.data(), count);
      std::lock_guard lock(m);
      got.append(buf.data(), static_cast<std::size_t>(n));
    };
  }
  void TearDown() override {
    port.Close();
    EXPECT_TRUE(ThreadsBackTo(before.threads)) << Describe(Snapshot());
    EXPECT_EQ(Snapshot().fds, before.fds) << Describe(before) << " then " << Describe(Snapshot());
    drv::ClearDeviceMappings();
  }
  std::string Got() {
    std::lock_guard lock(m);
    return got;
  }

  PtyDevice box;
  TComX port;
  Resources before;
  std::mutex m;
  std::string got;
};

// Transfers ended by a purge fail with 995 (the caller learns they did not complete); the line
// itself goes on working, and bytes queued before the purge are still there after it.
TEST_F(PortFaults, PurgeWithTransfersPendingAbortsThemAndTheLineGoesOn) {
  port.SetEvents(TEvents{});  // no watcher: this test reads by hand
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(0);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(0);  // neither transfer ends on its own
  port.Open();

  char readBuf[100];
  TransferRecord* readRec = nullptr;
  NewTransferRecord(readRec);
  EXPECT_EQ(port.BeginRead(readBuf, sizeof readBuf, readRec), 0);

  // Nobody reads the device's side: this write fills the pty and stays pending.
  const std::string big(1 << 20, 'w');
  TransferRecord* writeRec = nullptr;
  NewTransferRecord(writeRec);
  EXPECT_LT(port.BeginWrite(big.data(), static_cast<int>(big.size()), writeRec),
            static_cast<int>(big.size()));

  const auto start = Clock::now();
  port.PurgeBuffers();
  try {
    port.WaitTransfer(readRec);
    ADD_FAILURE() << "the purged read completed";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), 3);
    EXPECT_EQ(e.SystemErrorCode(), 995);
  }
  try {
    port.WaitTransfer(writeRec);
    ADD_FAILURE() << "the purged write completed";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.SystemErrorCode(), 995);
  }
  EXPECT_LT(SecondsSince(start), 5.0);
  FreeTransferRecord(readRec);
  FreeTransferRecord(writeRec);

  // The line still works both ways.
  box.Send("after");
  ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 5; }, seconds(10)));
  port.PurgeBuffers();  // the abort flags alone never clear the queue
  EXPECT_EQ(port.BytesWaiting(), 5);
  char five[5];
  EXPECT_EQ(port.Read(five, 5), 5);
  EXPECT_EQ(std::string(five, 5), "after");
  WaitUntil(
      [&] {
        box.Received();
        return false;
      },
      milliseconds(200));  // drain the old write
  const std::size_t already = box.Received().size();
  EXPECT_EQ(port.WriteString("ok\n"), 3);
  ASSERT_TRUE(WaitUntil([&] { return box.Received().size() >= already + 3; }, seconds(10)));
  EXPECT_EQ(box.Received().substr(already), "ok\n");
}

// A write that times out returns, without an exception, the count that went out; exactly
// those bytes reach the device, and the next write goes out normally.
TEST_F(PortFaults, WriteThatTimesOutReturnsWhatWentOutAndNothingElseIsSent) {
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(300);
  port.Open();
  std::string data(1 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);

  const auto start = Clock::now();
  const int n = port.Write(data.data(), static_cast<int>(data.size()));
  const double took = SecondsSince(start);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(data.size()));
  EXPECT_GE(took, 0.25);
  EXPECT_LT(took, 5.0);

  ASSERT_TRUE(
      WaitUntil([&] { return box.Received().size() >= static_cast<std::size_t>(n); }, seconds(10)));
  WaitUntil(
      [&] {
        box.Received();
        return false;
      },
      milliseconds(300));
  EXPECT_EQ(box.Received(), data.substr(0, static_cast<std::size_t>(n)));

  EXPECT_EQ(port.WriteString("next\n"), 5);
  ASSERT_TRUE(WaitUntil([&] { return box.Received().size() >= static_cast<std::size_t>(n) + 5; },
                        seconds(10)));
  EXPECT_EQ(box.Received().substr(static_cast<std::size_t>(n)), "next\n");
}

// 256 KiB in one go through a 1024-byte input queue, every byte value but NUL (0xFF included,
// which the line discipline doubles in its marked mode): all of it, in order.
TEST_F(PortFaults, BurstFarLargerThanTheInputQueueArrivesWholeAndInOrder) {
  port.Open();
  std::string burst;
  for (int i = 0; i < 256 * 1024; ++i) burst += static_cast<char>(1 + i % 255);
  ASSERT_EQ(box.Send(burst, seconds(60)), burst.size());
  ASSERT_TRUE(WaitUntil([&] { return Got().size() >= burst.size(); }, seconds(60)))
      << Got().size() << " of " << burst.size() << " bytes";
  EXPECT_TRUE(Got() == burst) << "the received bytes differ from the burst";
}

// Only NUL bytes: dropped by the driver, no receive event for them, no spinning; the few real
// bytes among them arrive.
TEST_F(PortFaults, NulFloodIsDroppedWithoutEventsOrSpinning) {
  int events = 0;
  port.OnRxChar = [&](TObject*, int count) {
    std::vector<char> buf(static_cast<std::size_t>(count));
    const int n = port.Read(buf.data(), count);
    std::lock_guard lock(m);
    ++events;
    got.append(buf.data(), static_cast<std::size_t>(n));
  };
  port.Open();
  std::string flood;
  for (int i = 0; i < 16; ++i) flood += std::string(256 * 1024, '\0') + static_cast<char>('A' + i);
  const double cpuBefore = ProcessCpuSeconds();
  ASSERT_EQ(box.Send(flood, seconds(120)), flood.size());
  ASSERT_TRUE(WaitUntil([&] { return Got().size() >= 16; }, seconds(60)));
  EXPECT_EQ(Got(), "ABCDEFGHIJKLMNOP");
  {
    std::lock_guard lock(m);
    EXPECT_LE(events, 16);
  }
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 30.0);
  const double idleBefore = ProcessCpuSeconds();
  std::this_thread::sleep_for(seconds(1));
  EXPECT_LT(ProcessCpuSeconds() - idleBefore, 0.2);
}

// Root opens any device whatever its mode, so the case runs in a child that has given up root
// for the unprivileged account: the engine's EACCES becomes the open error with code 5.
TEST(PortPermissions, DeviceWithoutPermissionGivesTheOpenErrorWithAccessDenied) {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no unprivileged account on this machine";
  PtyDevice box;
  ASSERT_EQ(chmod(box.Path().c_str(), 0600), 0);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    std::string said = "still privileged";
    if (setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0 && geteuid() != 0) {
      drv::SetDeviceMapping("COM1", box.Path());
      TComX port;
      port.SetEvents(TEvents{});
      try {
        port.Open();
        said = "opened";
      } catch (const EComPort& e) {
        said = e.what();
      }
    }
    (void)!write(out[1], said.data(), said.size());
    _exit(0);
  }
  close(out[1]);
  std::string said;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    said.append(buf, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(said, "Unable to open com port (win error code: 5)");
}

}  // namespace
}  // namespace faults

namespace faults {
namespace {

// Bytes that arrive after the open but before anyone watches for events raise no event (as on
// Windows, where the event mask starts empty). They are not lost: the next arrival's event
// finds them queued with it, and the count covers both.
TEST(PortBeforeWatching, BytesBeforeTheEventMaskAreReadWithTheNextArrival) {
  PtyDevice box;
  drv::CommDriver& driver = drv::DefaultCommDriver();
  const drv::Handle h =
      driver.CreateFileA(box.Path().c_str(), drv::kGenericRead | drv::kGenericWrite, 0,
                         drv::kOpenExisting, drv::kFileFlagOverlapped);
  ASSERT_NE(h, drv::kInvalidHandle);
  box.Send("early");
  drv::ComStat stat;
  std::uint32_t errors = 0;
  ASSERT_TRUE(WaitUntil(
      [&] { return driver.ClearCommError(h, &errors, &stat) && stat.cbInQue == 5; }, seconds(10)));

  ASSERT_TRUE(driver.SetCommMask(h, drv::kEvRxChar));
  rt::Event done(true, false);
  drv::Overlapped ov;
  ov.hEvent = done.Handle();
  std::uint32_t events = 0;
  EXPECT_FALSE(driver.WaitCommEvent(h, &events, &ov));
  EXPECT_EQ(driver.GetLastError(), drv::kErrorIoPending);
  EXPECT_FALSE(done.Wait(300)) << "an event for bytes that arrived before the mask";

  box.Send("!");
  ASSERT_TRUE(done.Wait(10000));
  std::uint32_t n = 0;
  ASSERT_TRUE(driver.GetOverlappedResult(h, &ov, &n, false));
  EXPECT_EQ(events, drv::kEvRxChar);
  ASSERT_TRUE(WaitUntil(
      [&] { return driver.ClearCommError(h, &errors, &stat) && stat.cbInQue == 6; }, seconds(10)));
  char got[6];
  rt::Event readDone(true, false);
  drv::Overlapped rov;
  rov.hEvent = readDone.Handle();
  drv::CommTimeouts atOnce;
  atOnce.ReadIntervalTimeout = drv::kMaxDword;
  ASSERT_TRUE(driver.SetCommTimeouts(h, atOnce));
  std::uint32_t read = 0;
  if (!driver.ReadFile(h, got, sizeof got, &read, &rov)) {
    ASSERT_EQ(driver.GetLastError(), drv::kErrorIoPending);
    ASSERT_TRUE(readDone.Wait(10000));
    ASSERT_TRUE(driver.GetOverlappedResult(h, &rov, &read, false));
  }
  EXPECT_EQ(std::string(got, read), "early!");
  driver.CloseHandle(h);
}

}  // namespace
}  // namespace faults
