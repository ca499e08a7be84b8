// kernel32's serial calls through the driver, on a pty that Wine serves as COM1.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "WinePort.h"

namespace drv::test {
namespace {

TEST(Win32Driver, MissingPortFailsWithFileNotFound) {
  CommDriver& d = DefaultCommDriver();
  const std::string port = UnknownComPort();
  ASSERT_FALSE(port.empty());
  EXPECT_EQ(OpenPort(d, port.c_str()), kInvalidHandle);
  EXPECT_EQ(d.GetLastError(), kErrorFileNotFound) << port;
}

// Wine makes a device for every COM port its registry maps, whether or not the mapped path
// exists: the open succeeds and the first port call fails with ERROR_INVALID_FUNCTION. On
// Windows such a port has no device, and the open fails with ERROR_FILE_NOT_FOUND.
TEST(Win32Driver, PortMappedToAMissingPathUnderWine) {
  if (!RunningUnderWine()) GTEST_SKIP() << "the mapping is Wine's";
  CommDriver& d = DefaultCommDriver();
  const Handle h = OpenPort(d, kMappedToMissingPath);
  ASSERT_NE(h, kInvalidHandle) << "Wine now refuses the open: error " << d.GetLastError();
  EXPECT_FALSE(d.SetCommState(h, LineSettings()));
  EXPECT_EQ(d.GetLastError(), 1u);
  d.CloseHandle(h);
}

TEST(Win32Driver, PortOpensAndAcceptsTheSettings) {
  CommDriver& d = DefaultCommDriver();
  const Handle h = OpenPort(d, kPtyPort);
  ASSERT_NE(h, kInvalidHandle) << "error " << d.GetLastError();
  for (std::uint32_t baud : {115200u, 9600u, 57600u, 19200u}) {
    EXPECT_TRUE(d.SetCommState(h, LineSettings(baud))) << baud << " baud: " << d.GetLastError();
    DCB native{};
    native.DCBlength = sizeof native;
    ASSERT_TRUE(GetCommState(reinterpret_cast<HANDLE>(h), &native));
    EXPECT_EQ(native.BaudRate, baud);
    EXPECT_EQ(native.ByteSize, 8);
    EXPECT_EQ(native.Parity, NOPARITY);
    EXPECT_EQ(native.StopBits, ONESTOPBIT);
  }
  CommTimeouts tool{kMaxDword, 0, 100, 100, 10};
  EXPECT_TRUE(d.SetCommTimeouts(h, tool)) << d.GetLastError();
  COMMTIMEOUTS native{};
  ASSERT_TRUE(GetCommTimeouts(reinterpret_cast<HANDLE>(h), &native));
  EXPECT_EQ(native.ReadIntervalTimeout, kMaxDword);
  EXPECT_EQ(native.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(native.WriteTotalTimeoutConstant, 10u);
  EXPECT_TRUE(d.SetupComm(h, 4096, 2048)) << d.GetLastError();
  EXPECT_TRUE(d.CloseHandle(h));
}

TEST_F(OpenPortTest, WrittenBytesComeBackFromTheOtherEnd) {
  const std::string sent("hello\0world\r\n\xff", 14);
  EXPECT_EQ(Write(sent), sent.size());
  EXPECT_EQ(Read(static_cast<std::uint32_t>(sent.size())), sent);
}

TEST_F(OpenPortTest, ClearCommErrorCountsWaitingBytesAndPurgeDiscardsThem) {
  ASSERT_EQ(Write("12345"), 5u);
  std::uint32_t errors = 0;
  ComStat stat;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  do {
    ASSERT_TRUE(d_.ClearCommError(h_, &errors, &stat)) << d_.GetLastError();
  } while (stat.cbInQue < 5 && std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(stat.cbInQue, 5u);
  EXPECT_EQ(errors, 0u);
  ASSERT_TRUE(d_.PurgeComm(h_, kPurgeRxClear));
  ASSERT_TRUE(d_.ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(OpenPortTest, ToolReadTimeoutsReturnWhatIsWaitingAndNothingWhenIdle) {
  CommTimeouts tool{kMaxDword, 0, 100, 100, 10};
  ASSERT_TRUE(d_.SetCommTimeouts(h_, tool));
  const ReadOutcome idle = ReadRaw(16);
  EXPECT_EQ(idle.bytes, "");
  if (RunningUnderWine()) {
    // Wine turns the read's STATUS_TIMEOUT into a failure; Windows counts it a success.
    EXPECT_FALSE(idle.ok);
    EXPECT_EQ(idle.error, 1460u) << "ERROR_TIMEOUT";
  } else {
    EXPECT_TRUE(idle.ok) << "error " << idle.error;
  }
  ASSERT_EQ(Write("abc"), 3u);
  // The first byte ends the wait; the rest may follow in a later read.
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
  while (got.size() < 3 && std::chrono::steady_clock::now() < deadline) got += Read(16);
  EXPECT_EQ(got, "abc");
}

TEST_F(OpenPortTest, PurgeAbortsAPendingReadWithOperationAborted) {
  CommTimeouts forever;  // all zero: a read waits until its count is complete
  ASSERT_TRUE(d_.SetCommTimeouts(h_, forever));
  rt::Event done(true, false);
  Overlapped ov;
  ov.hEvent = done.Handle();
  char buffer[16];
  std::uint32_t n = 0;
  ASSERT_FALSE(d_.ReadFile(h_, buffer, sizeof buffer, &n, &ov));
  ASSERT_EQ(d_.GetLastError(), kErrorIoPending);
  EXPECT_FALSE(done.Wait(100)) << "the read completed with nothing to read";
  ASSERT_TRUE(d_.PurgeComm(h_, kPurgeRxAbort | kPurgeRxClear));
  if (RunningUnderWine()) {
    // Wine's PurgeComm only flushes the tty and leaves transfers pending; cancelling the
    // handle's I/O is how a transfer ends there.
    EXPECT_FALSE(done.Wait(500)) << "Wine's PurgeComm now aborts transfers";
    ASSERT_TRUE(CancelIoEx(reinterpret_cast<HANDLE>(h_), nullptr));
  }
  ASSERT_TRUE(done.Wait(kGenerousMs)) << "the read is still pending";
  EXPECT_FALSE(d_.GetOverlappedResult(h_, &ov, &n, false));
  EXPECT_EQ(d_.GetLastError(), kErrorOperationAborted);
}

TEST_F(OpenPortTest, ModemStatusOfAPtyIsAllOff) {
  std::uint32_t status = 0xFFFF;
  ASSERT_TRUE(d_.GetCommModemStatus(h_, &status)) << d_.GetLastError();
  EXPECT_EQ(status, 0u);
}

TEST_F(OpenPortTest, ASecondOpenOfAnOpenPortIsRefusedOnWindowsOnly) {
  const Handle second = OpenPort(d_, kPtyPort);
  const std::uint32_t error = d_.GetLastError();
  if (second != kInvalidHandle) d_.CloseHandle(second);
  if (RunningUnderWine()) {
    // Wine does not hold a device open exclusively: the second open succeeds.
    EXPECT_NE(second, kInvalidHandle) << "Wine now refuses a second open: error " << error;
  } else {
    EXPECT_EQ(second, kInvalidHandle);
    EXPECT_EQ(error, kErrorAccessDenied);
  }
}

}  // namespace
}  // namespace drv::test
