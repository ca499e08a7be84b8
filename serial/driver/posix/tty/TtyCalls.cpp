#include "serial/driver/posix/tty/TtyCalls.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace drv::posix {
namespace {

int SystemOutputQueued(int fd, int* queued) {
  return ::ioctl(fd, TIOCOUTQ, queued);
}

// Its bytes come from a program, never from a wire, so they carry no framing or parity errors
// and no breaks. Linux numbers these devices in the Unix98 slave majors (136 to 143) and the old
// BSD-style slave major (3).
bool SystemIsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
}

}  // namespace

TtyCalls SystemTtyCalls() {
  return TtyCalls{&::tcgetattr, &SystemOutputQueued, &SystemIsPseudoTerminal, &::close, &::read};
}

TtyCalls& Tty() {
  static TtyCalls calls = SystemTtyCalls();
  return calls;
}

}  // namespace drv::posix
