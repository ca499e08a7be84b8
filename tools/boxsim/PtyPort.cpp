#include "tools/boxsim/PtyPort.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace boxsim {

std::string PtyPort::Open() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return std::string("posix_openpt: ") + std::strerror(errno);
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    return std::string("grantpt/unlockpt: ") + std::strerror(errno);
  }
  const char* name = ::ptsname(master_);
  if (name == nullptr) return std::string("ptsname: ") + std::strerror(errno);
  slavePath_ = name;

  // Opening and closing the slave once sets the raw line a serial port would have, and leaves
  // the pair in its "nobody has the device open" state, which a fresh pair does not report.
  int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return "cannot open " + slavePath_ + ": " + std::strerror(errno);
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::close(slave);
  return {};
}

void PtyPort::Close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool PtyPort::ClientPresent() const {
  if (master_ < 0) return false;
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  return (p.revents & POLLHUP) == 0;
}

std::string MakeLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) return link + " exists and is not a symbolic link; not replacing it";
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    return "cannot make link " + link + ": " + std::strerror(errno);
  }
  return {};
}

void RemoveLink(const std::string& link, const std::string& target) {
  char buffer[4096];
  ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n < 0) return;
  buffer[n] = '\0';
  if (target == buffer) ::unlink(link.c_str());
}

}  // namespace boxsim
