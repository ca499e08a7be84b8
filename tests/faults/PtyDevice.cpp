#include "tests/faults/PtyDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace faults {

PtyDevice::PtyDevice() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slavePath_ = ptsname(master_);
}

PtyDevice::~PtyDevice() {
  HangUp();
}

std::size_t PtyDevice::Send(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::size_t sent = 0;
  while (master_ >= 0 && sent < text.size()) {
    const ssize_t n = ::write(master_, text.data() + sent, text.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    // The tool's side has not read yet; what it sends back is collected meanwhile, so that a
    // full return path never stalls it.
    Received();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
  }
  return sent;
}

const std::string& PtyDevice::Received() {
  char buf[4096];
  while (master_ >= 0) {
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) break;
    received_.append(buf, static_cast<std::size_t>(n));
  }
  return received_;
}

void PtyDevice::HangUp() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace faults
