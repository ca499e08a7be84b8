#include "tests/e2e/PrivateNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace e2e {

PrivateNetwork::PrivateNetwork() {
  original_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original_ < 0) {
    problem_ = std::string("cannot keep the current network namespace: ") + std::strerror(errno);
    return;
  }
  if (::unshare(CLONE_NEWNET) != 0) {
    problem_ = std::string("no network namespace of our own: ") + std::strerror(errno);
    return;
  }
  entered_ = true;
  if (SetLoopback(true)) AddDocumentationAddress();
}

// Resolvers asked for configured address families only (AI_ADDRCONFIG, as ser2net asks) find
// none where loopback is all there is, and then not even 127.0.0.1: one address from a range
// reserved for documentation, which nothing routes, makes IPv4 count as configured.
void PrivateNetwork::AddDocumentationAddress() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo:zw", IFNAMSIZ - 1);
  auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
  address->sin_family = AF_INET;
  ::inet_pton(AF_INET, "198.51.100.9", &address->sin_addr);
  if (fd < 0 || ::ioctl(fd, SIOCSIFADDR, &request) != 0) {
    problem_ = std::string("cannot add an address: ") + std::strerror(errno);
  }
  if (fd >= 0) ::close(fd);
}

PrivateNetwork::~PrivateNetwork() {
  if (entered_) ::setns(original_, CLONE_NEWNET);
  if (original_ >= 0) ::close(original_);
}

bool PrivateNetwork::SetLoopback(bool up) {
  // Never the machine's own loopback.
  if (!entered_) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    if (up) {
      request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    } else {
      request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    }
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) problem_ = std::string("cannot switch loopback: ") + std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace e2e
