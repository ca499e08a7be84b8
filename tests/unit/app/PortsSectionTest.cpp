// POSIX: the settings file's [PORTS] section tells the serial driver which device each COM
// port opens.
#include <gtest/gtest.h>

#include "Form1Fixture.h"
#include "serial/driver/DeviceMap.h"

namespace {

TEST_F(Form1Test, PortsSectionMapsComPortsToDevices) {
  drv::ClearDeviceMappings();
  TempDir::Write(dir.File("Zanowipe.ini"), "[PORTS]\nCOM2=/dev/pts/77\nCOM9=/dev/pts/78\n");
  CreateForm();
  EXPECT_EQ(drv::ResolveDeviceName("COM2"), "/dev/pts/77");
  EXPECT_EQ(drv::ResolveDeviceName("COM3"), "/dev/ttyUSB2");
  drv::ClearDeviceMappings();
}

}  // namespace
