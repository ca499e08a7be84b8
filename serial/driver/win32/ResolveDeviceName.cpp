#include <cctype>
#include <string>

#include "serial/driver/DeviceMap.h"

namespace drv {

namespace {
bool IsComName(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}
}  // namespace

// Only COM1..COM9 have a plain DOS name; the device namespace form opens every COM port, so
// "COMn" is always opened as \\.\COMn. The port map is a POSIX matter and is not consulted.
std::string ResolveDeviceName(const std::string& portName) {
  return IsComName(portName) ? "\\\\.\\" + portName : portName;
}

std::string CanonicalDeviceName(const std::string& portName) {
  return ResolveDeviceName(portName);
}

}  // namespace drv
