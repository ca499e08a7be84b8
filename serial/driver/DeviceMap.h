// Which device a port name opens.
//
// Windows: "COMn" opens \\.\COMn and the map is not consulted. POSIX: "COM1".."COM8" open the
// device mapped to them (the settings file's [PORTS] section fills the map), by default
// /dev/ttyUSB0../dev/ttyUSB7, where USB adapters appear; a name starting with '/' is a device
// path, and "rfc2217://HOST:PORT" or "tcp://HOST:PORT" a serial server's network port, whether
// given directly or through the map. /dev/ttyS* is never a default: on many machines /dev/ttyS0
// is the system console, and a device that is one of the kernel's consoles is never opened at
// all, however it is named.
#pragma once

#include <cstdint>
#include <string>

namespace drv {

void SetDeviceMapping(const std::string& portName, const std::string& device);
void ClearDeviceMappings();
// The device that CreateFileA(portName) opens on this platform.
std::string ResolveDeviceName(const std::string& portName);
// That device with links, ".", ".." and doubled separators resolved where device names are
// paths (POSIX; a path that does not exist has its text tidied only; a network port's name as
// it is); as ResolveDeviceName gives it on Windows.
std::string CanonicalDeviceName(const std::string& portName);

// Why the last CreateFileA of the calling thread failed, in words, where the driver knows more
// than its error number says (a network port: the host, the port and what went wrong); empty
// otherwise. The driver sets it.
std::string OpenFailureDetail();
void SetOpenFailureDetail(const std::string& detail);

// CreateFileA's error for a device that is one of the kernel's consoles (POSIX). Bit 29 marks an
// application-defined number, which no system error carries, so a program can tell it apart
// and say why.
inline constexpr std::uint32_t kErrorSystemConsole = 0x20000001;

}  // namespace drv
