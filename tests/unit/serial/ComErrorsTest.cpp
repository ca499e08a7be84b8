#include <gtest/gtest.h>

#include "serial/ComErrors.h"

namespace {

TEST(EComPortTest, WithSystemCodeAppendsTheFormattedCode) {
  const EComPort e(1, 2);
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(e.SystemErrorCode(), 2);
  EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
}

TEST(EComPortTest, SystemCodeIsWrittenAsASignedNumber) {
  EXPECT_EQ(EComPort(7, -5).Message(), "SetCommState function failed (win error code: -5)");
  // A Windows error above 2^31 read into the signed field keeps its two's-complement value.
  EXPECT_EQ(EComPort(3, static_cast<std::int32_t>(0x80000001u)).Message(),
            "ReadFile function failed (win error code: -2147483647)");
}

TEST(EComPortTest, WithoutSystemCodeTheMessageIsTheTableTextAlone) {
  const EComPort e(4);
  EXPECT_EQ(e.SystemErrorCode(), -1);
  EXPECT_EQ(e.ErrorCode(), 4);
  EXPECT_EQ(e.Message(), "Invalid Async parameter");
  EXPECT_EQ(EComPort(14).Message(), "Cannot set SyncMethod while connected");
}

TEST(EComPortTest, FourteenMessagesIndexedFromOne) {
  const char* expected[] = {"Unable to open com port",
                            "WriteFile function failed",
                            "ReadFile function failed",
                            "Invalid Async parameter",
                            "PurgeComm function failed",
                            "Unable to get async status",
                            "SetCommState function failed",
                            "SetCommTimeouts failed",
                            "SetupComm function failed",
                            "ClearCommError function failed",
                            "GetCommModemStatus function failed",
                            "EscapeCommFunction function failed",
                            "TransmitCommChar function failed",
                            "Cannot set SyncMethod while connected"};
  for (int code = 1; code <= 14; ++code) {
    EXPECT_STREQ(EComPort::MessageFor(code), expected[code - 1]) << "code " << code;
  }
  EXPECT_STREQ(EComPort::MessageFor(0), "");
  EXPECT_STREQ(EComPort::MessageFor(15), "");
}

}  // namespace
