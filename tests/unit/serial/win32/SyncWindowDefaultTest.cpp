// The hidden window of smWindowSync is a real window: a message that is not the port's own goes
// to the system's default window procedure, and the result that procedure gives is the
// message's result.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/HiddenWindow.h"
#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

// User32's numbers, written out: this test includes no system header.
constexpr std::uint32_t kWmSetText = 0x000C;
constexpr std::uint32_t kWmGetText = 0x000D;
constexpr std::uint32_t kWmGetTextLength = 0x000E;

using SyncWindowDefaultTest = PortTest;

TEST_F(SyncWindowDefaultTest, OtherMessagesGetTheDefaultProceduresResult) {
  port.SetSyncMethod(smWindowSync);
  OpenQuietly();
  ASSERT_NE(port.SyncWindow(), nullptr);

  const char text[] = "port";
  rt::Message set{kWmSetText, 0, reinterpret_cast<std::intptr_t>(text), 0};
  port.HandleSyncMessage(set);
  EXPECT_EQ(set.Result, 1) << "WM_SETTEXT";

  rt::Message length{kWmGetTextLength, 0, 0, 0};
  port.HandleSyncMessage(length);
  EXPECT_EQ(length.Result, 4) << "WM_GETTEXTLENGTH";

  char copy[16] = {};
  rt::Message get{kWmGetText, sizeof copy, reinterpret_cast<std::intptr_t>(copy), 0};
  port.HandleSyncMessage(get);
  EXPECT_EQ(get.Result, 4) << "WM_GETTEXT";
  EXPECT_STREQ(copy, "port");

  // The same through the window itself, as the system delivers it.
  EXPECT_EQ(port.SyncWindow()->SendMessageA(kWmGetTextLength, 0, 0), 4);
  EXPECT_TRUE(fake.Calls().empty());
}

}  // namespace
}  // namespace serial_test
