// What the driver tests share: the pty-backed port and a closed-loop transfer helper.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "serial/driver/CommDriver.h"

namespace drv::test {

// COM1 is the pty that scripts/wine-run.sh creates; COM8 is mapped to a path that is missing.
inline constexpr const char* kPtyPort = "COM1";
inline constexpr const char* kMappedToMissingPath = "COM8";
inline constexpr std::uint32_t kGenerousMs = 10000;

// Where Wine departs from Windows the tests say so and check Wine's own behaviour, so that a
// Wine that changes is noticed (docs/WINE.md lists the differences).
inline bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// A COM port name with no device behind it at all (QueryDosDevice knows no such name), so
// opening it can never reach a real port.
inline std::string UnknownComPort() {
  char target[512];
  for (int n = 99; n < 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) return name;
  }
  return {};
}

struct ReadOutcome {
  bool ok = false;
  std::uint32_t error = 0;
  std::string bytes;
};

inline Handle OpenPort(CommDriver& d, const char* name) {
  return d.CreateFileA(name, kGenericRead | kGenericWrite, 0, kOpenExisting, kFileFlagOverlapped);
}

// The tool's line: 115200 8N1, binary, NUL bytes kept, no flow control, DTR and RTS off.
inline Dcb LineSettings(std::uint32_t baud = 115200) {
  Dcb dcb;
  dcb.DCBlength = sizeof(Dcb);
  dcb.BaudRate = baud;
  dcb.Flags = kFBinary;
  dcb.ByteSize = 8;
  dcb.Parity = kNoParity;
  dcb.StopBits = kOneStopBit;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  dcb.XonLim = 1024;
  dcb.XoffLim = 1024;
  return dcb;
}

// An open, configured port, closed at the end of the test.
class OpenPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = OpenPort(d_, kPtyPort);
    ASSERT_NE(h_, kInvalidHandle) << "CreateFileA(" << kPtyPort << ") error " << d_.GetLastError();
    ASSERT_TRUE(d_.SetCommState(h_, LineSettings())) << "error " << d_.GetLastError();
    CommTimeouts t;
    t.ReadTotalTimeoutConstant = kGenerousMs;  // reads wait for their bytes, within bounds
    t.WriteTotalTimeoutConstant = kGenerousMs;
    ASSERT_TRUE(d_.SetCommTimeouts(h_, t)) << "error " << d_.GetLastError();
    ASSERT_TRUE(d_.PurgeComm(h_, kPurgeRxClear | kPurgeTxClear));
  }
  void TearDown() override {
    if (h_ != kInvalidHandle) d_.CloseHandle(h_);
  }

  // Overlapped write, waited for; returns the count written.
  std::uint32_t Write(const std::string& bytes) {
    rt::Event done(true, false);
    Overlapped ov;
    ov.hEvent = done.Handle();
    std::uint32_t n = 0;
    if (!d_.WriteFile(h_, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n, &ov)) {
      EXPECT_EQ(d_.GetLastError(), kErrorIoPending);
      EXPECT_TRUE(d_.GetOverlappedResult(h_, &ov, &n, true)) << "error " << d_.GetLastError();
    }
    return n;
  }

  // Overlapped read of up to count bytes, waited for (the port's timeouts bound it).
  ReadOutcome ReadRaw(std::uint32_t count) {
    rt::Event done(true, false);
    Overlapped ov;
    ov.hEvent = done.Handle();
    ReadOutcome out;
    out.bytes.assign(count, '\0');
    std::uint32_t n = 0;
    out.ok = d_.ReadFile(h_, out.bytes.data(), count, &n, &ov);
    if (!out.ok && d_.GetLastError() == kErrorIoPending) {
      out.ok = d_.GetOverlappedResult(h_, &ov, &n, true);
    }
    out.error = out.ok ? 0 : d_.GetLastError();
    out.bytes.resize(n);
    return out;
  }
  std::string Read(std::uint32_t count) {
    const ReadOutcome out = ReadRaw(count);
    EXPECT_TRUE(out.ok) << "read of " << count << " failed with " << out.error;
    return out.bytes;
  }

  CommDriver& d_ = DefaultCommDriver();
  Handle h_ = kInvalidHandle;
};

}  // namespace drv::test
