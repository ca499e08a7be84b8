#include "serial/driver/posix/TtyCalls.h"

#include <sys/ioctl.h>

namespace drv::posix {
namespace {

int SystemOutputQueued(int fd, int* queued) {
  return ::ioctl(fd, TIOCOUTQ, queued);
}

}  // namespace

TtyCalls SystemTtyCalls() {
  return TtyCalls{&::tcgetattr, &SystemOutputQueued};
}

TtyCalls& Tty() {
  static TtyCalls calls = SystemTtyCalls();
  return calls;
}

}  // namespace drv::posix
