// Which device a port name opens.
//
// Windows: "COMn" opens \\.\COMn and the map is not consulted. POSIX: "COM1".."COM8" open the
// device mapped to them (the settings file's [PORTS] section fills the map), by default
// /dev/ttyUSB0../dev/ttyUSB7, where USB adapters appear; a name starting with '/' is a device
// path. /dev/ttyS* is never a default: on many machines /dev/ttyS0 is the system console.
#pragma once

#include <string>

namespace drv {

void SetDeviceMapping(const std::string& portName, const std::string& device);
void ClearDeviceMappings();
// The device that CreateFileA(portName) opens on this platform.
std::string ResolveDeviceName(const std::string& portName);

}  // namespace drv
