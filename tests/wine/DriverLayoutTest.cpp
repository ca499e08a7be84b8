// The value blocks match kernel32's bit for bit, and port names open the device namespace.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "serial/driver/CommTypes.h"
#include "serial/driver/DeviceMap.h"

namespace drv {
namespace {

TEST(DriverLayout, DcbFlagWordBitsAreTheNativeBitFields) {
  struct Case {
    const char* field;
    void (*set)(DCB&);
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"fBinary", [](DCB& d) { d.fBinary = 1; }, kFBinary},
      {"fParity", [](DCB& d) { d.fParity = 1; }, kFParity},
      {"fOutxCtsFlow", [](DCB& d) { d.fOutxCtsFlow = 1; }, kFOutxCtsFlow},
      {"fOutxDsrFlow", [](DCB& d) { d.fOutxDsrFlow = 1; }, kFOutxDsrFlow},
      {"fDtrControl=handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; },
       kDtrControlHandshake << kFDtrControlShift},
      {"fDsrSensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }, kFDsrSensitivity},
      {"fTXContinueOnXoff", [](DCB& d) { d.fTXContinueOnXoff = 1; }, kFTXContinueOnXoff},
      {"fOutX", [](DCB& d) { d.fOutX = 1; }, kFOutX},
      {"fInX", [](DCB& d) { d.fInX = 1; }, kFInX},
      {"fErrorChar", [](DCB& d) { d.fErrorChar = 1; }, kFErrorChar},
      {"fNull", [](DCB& d) { d.fNull = 1; }, kFNull},
      {"fRtsControl=toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; },
       kRtsControlToggle << kFRtsControlShift},
      {"fAbortOnError", [](DCB& d) { d.fAbortOnError = 1; }, kFAbortOnError},
  };
  for (const Case& c : cases) {
    DCB native{};
    c.set(native);
    Dcb ours;
    std::memcpy(static_cast<void*>(&ours), &native, sizeof ours);
    EXPECT_EQ(ours.Flags, c.expected) << c.field;
  }
}

TEST(DriverLayout, DcbBytesLandInTheNativeFields) {
  Dcb ours;
  ours.BaudRate = 14400;
  ours.XonLim = 2048;
  ours.ByteSize = 7;
  ours.Parity = kMarkParity;
  ours.StopBits = kOne5StopBits;
  ours.EvtChar = '\n';
  DCB native;
  std::memcpy(&native, &ours, sizeof native);
  EXPECT_EQ(native.BaudRate, 14400u);
  EXPECT_EQ(native.XonLim, 2048);
  EXPECT_EQ(native.ByteSize, 7);
  EXPECT_EQ(native.Parity, MARKPARITY);
  EXPECT_EQ(native.StopBits, ONE5STOPBITS);
  EXPECT_EQ(native.EvtChar, '\n');
}

TEST(DriverLayout, ConstantsAreTheWindowsValues) {
  EXPECT_EQ(kEvRxChar, static_cast<std::uint32_t>(EV_RXCHAR));
  EXPECT_EQ(kEvRx80Full, static_cast<std::uint32_t>(EV_RX80FULL));
  EXPECT_EQ(kPurgeRxClear, static_cast<std::uint32_t>(PURGE_RXCLEAR));
  EXPECT_EQ(kMsRlsdOn, static_cast<std::uint32_t>(MS_RLSD_ON));
  EXPECT_EQ(kCeRxParity, static_cast<std::uint32_t>(CE_RXPARITY));
  EXPECT_EQ(kFileFlagOverlapped, static_cast<std::uint32_t>(FILE_FLAG_OVERLAPPED));
  EXPECT_EQ(kErrorOperationAborted, static_cast<std::uint32_t>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(kErrorIoPending, static_cast<std::uint32_t>(ERROR_IO_PENDING));
}

TEST(DeviceName, ComPortsOpenTheDeviceNamespaceAndTheMapIsNotConsulted) {
  SetDeviceMapping("COM1", "/dev/ttyUSB5");
  EXPECT_EQ(ResolveDeviceName("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(ResolveDeviceName("com12"), "\\\\.\\com12") << "COM10 and above need the prefix";
  EXPECT_EQ(ResolveDeviceName("\\\\.\\COM3"), "\\\\.\\COM3");
  EXPECT_EQ(ResolveDeviceName("LPT1"), "LPT1");
  EXPECT_EQ(ResolveDeviceName("COMX"), "COMX");
  EXPECT_EQ(ResolveDeviceName("COM"), "COM");
  ClearDeviceMappings();
}

}  // namespace
}  // namespace drv
