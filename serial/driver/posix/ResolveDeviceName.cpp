#include <cctype>
#include <string>

#include "serial/driver/DeviceMap.h"
#include "serial/driver/DeviceMapStore.h"
#include "serial/driver/posix/net/NetAddress.h"
#include "serial/driver/posix/tty/ConsoleGuard.h"

namespace drv {

// "COMn" opens what the map names, else /dev/ttyUSB<n-1>, where USB serial adapters appear.
// Never a /dev/ttyS* by default: on many machines /dev/ttyS0 is the system console. A name
// starting with '/' is a device path, one starting with rfc2217:// or tcp:// a network port.
// Anything else names no device.
std::string ResolveDeviceName(const std::string& portName) {
  if (!portName.empty() && portName[0] == '/') return portName;
  if (posix::IsNetworkPortName(portName)) return portName;
  std::string name = DeviceMapStore::Key(portName);
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  if (const auto mapped = DeviceMapStore::Instance().Find(name)) return *mapped;
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) return {};
  unsigned number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return {};
    number = number * 10 + static_cast<unsigned>(name[i] - '0');
  }
  if (number == 0 || name[3] == '0') return {};
  return "/dev/ttyUSB" + std::to_string(number - 1);
}

std::string CanonicalDeviceName(const std::string& portName) {
  const std::string device = ResolveDeviceName(portName);
  // A network port's name is no path: there is nothing to resolve, and no link can lead from
  // it to a console.
  if (device.empty() || posix::IsNetworkPortName(device)) return device;
  return posix::CanonicalPath(device);
}

}  // namespace drv
