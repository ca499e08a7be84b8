// Reaching a serial server: the host's name resolved and a TCP connection made, together within
// a time limit, and the connection set up so that a dead server or a pulled network cable is
// noticed by the kernel's own timers (keepalive, TCP_USER_TIMEOUT) within about 15 s.
#pragma once

#include <netdb.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "serial/driver/posix/net/NetAddress.h"

namespace drv::posix {

struct Connection {
  int fd = -1;              // connected, non-blocking; -1 on failure
  std::uint32_t error = 0;  // the Windows error of a failure
  std::string reason;       // a failure in words, naming host and port
};

// Connects within `limit`, name resolution included. A resolver that hangs (a closed network
// with an unreachable name server) is left behind on a thread of its own.
Connection ConnectTo(const NetAddress& address, std::chrono::milliseconds limit);

// Name resolution as getaddrinfo/freeaddrinfo do it; tests replace it to show a resolver that
// hangs or fails. Replaced only while no port is being opened.
struct ResolverCalls {
  int (*resolve)(const char* host, const char* service, const addrinfo* hints, addrinfo** result);
  void (*release)(addrinfo* result);
};
ResolverCalls& Resolver();
ResolverCalls SystemResolverCalls();

}  // namespace drv::posix
