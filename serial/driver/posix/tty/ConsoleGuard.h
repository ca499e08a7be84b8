// The kernel's consoles are never opened as a port: line feeds and an erase command line sent
// there would land in the system console. The device is compared as the kernel knows it
// (its device number, its resolved path), so no spelling walks around the check: a link such
// as /dev/serial0, "/dev/./ttyS0", "/dev//ttyS0".
#pragma once

#include <string>

namespace drv::posix {

// Where the kernel lists its consoles; tests point these at files of their own.
struct ConsoleLists {
  // Lines "NAME FLAGS (FLAGS) MAJOR:MINOR", NAME relative to /dev.
  std::string registered = "/proc/consoles";
  // Names relative to /dev, separated by blanks.
  std::string active = "/sys/class/tty/console/active";
};
void SetConsoleLists(const ConsoleLists& lists);

// The path with links, ".", ".." and repeated slashes resolved, also for a device that does
// not exist (yet): the links that lead to it are followed and the rest of the text is tidied.
std::string CanonicalPath(const std::string& path);

// Whether the device at path is /dev/console or a console that either list names. A list that
// cannot be read names nothing; a device that does not exist is no console.
bool IsSystemConsole(const std::string& path);

}  // namespace drv::posix
