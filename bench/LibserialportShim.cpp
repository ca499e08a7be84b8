#include "bench/LibserialportShim.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

extern "C" {
int __real_ioctl(int fd, unsigned long request, void* arg);
int __real___lxstat(int version, const char* path, struct stat* buf);
ssize_t __real_readlink(const char* path, char* buf, size_t size);
}

namespace {

std::string sysfsEntry;  // /sys/class/tty/pts/N
dev_t ptyDevice = 0;
int modemLines = TIOCM_DTR | TIOCM_RTS;

bool IsThePty(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == ptyDevice;
}

bool IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
}

}  // namespace

namespace bench {

void ShimAcceptPty(const std::string& slavePath) {
  sysfsEntry = "/sys/class/tty/" + slavePath.substr(std::strlen("/dev/"));
  struct stat st {};
  if (stat(slavePath.c_str(), &st) == 0) ptyDevice = st.st_rdev;
}

}  // namespace bench

extern "C" {

int __wrap_ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  const int before = errno;
  const int result = __real_ioctl(fd, request, arg);
  if (result == 0 || !IsModemRequest(request) || (errno != ENOTTY && errno != EINVAL) ||
      !IsThePty(fd)) {
    return result;
  }
  int* bits = static_cast<int*>(arg);
  if (request == TIOCMGET) *bits = modemLines;
  if (request == TIOCMSET) modemLines = *bits;
  if (request == TIOCMBIS) modemLines |= *bits;
  if (request == TIOCMBIC) modemLines &= ~*bits;
  errno = before;
  return 0;
}

int __wrap___lxstat(int version, const char* path, struct stat* buf) {
  if (sysfsEntry.empty() || sysfsEntry != path) return __real___lxstat(version, path, buf);
  std::memset(buf, 0, sizeof *buf);
  buf->st_mode = S_IFLNK | 0777;
  return 0;
}

ssize_t __wrap_readlink(const char* path, char* buf, size_t size) {
  if (sysfsEntry.empty() || sysfsEntry != path) return __real_readlink(path, buf, size);
  static const char kTarget[] = "../../devices/virtual/tty/pty";
  const size_t n = std::min(size, sizeof kTarget - 1);
  std::memcpy(buf, kTarget, n);
  return static_cast<ssize_t>(n);
}

}  // extern "C"
