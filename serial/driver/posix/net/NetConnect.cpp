#include "serial/driver/posix/net/NetConnect.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "serial/driver/CommTypes.h"
#include "serial/driver/posix/engine/ErrnoToWinError.h"

namespace drv::posix {
namespace {

using Clock = std::chrono::steady_clock;

// Keepalive probes start after 5 s without traffic and repeat every 2 s; data or a probe left
// unacknowledged for 10 s ends the connection. A dead peer is thus noticed 10 to 12 s after it
// went silent, by the kernel's timers alone.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 2;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 10000;

int SystemResolve(const char* host, const char* service, const addrinfo* hints, addrinfo** result) {
  return ::getaddrinfo(host, service, hints, result);
}

void SystemRelease(addrinfo* result) {
  ::freeaddrinfo(result);
}

struct AddressList {
  addrinfo* head = nullptr;
  void (*release)(addrinfo*) = nullptr;
  ~AddressList() {
    if (head) release(head);
  }
};

// One resolution, shared by the caller and the thread that runs it: whichever is left last
// frees it, so a caller that stopped waiting leaves nothing dangling.
struct Lookup {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  bool abandoned = false;
  int status = 0;
  int err = 0;
  addrinfo* result = nullptr;
};

long long MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : left;
}

std::string SecondsText(std::chrono::milliseconds limit) {
  const auto ms = limit.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

Connection Failure(std::uint32_t error, std::string reason) {
  Connection c;
  c.error = error;
  c.reason = std::move(reason);
  return c;
}

// Resolves host and port; on failure fills *failure.
bool Resolve(const NetAddress& address, Clock::time_point deadline, std::chrono::milliseconds limit,
             AddressList& list, Connection* failure) {
  const ResolverCalls calls = Resolver();
  list.release = calls.release;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const std::string service = std::to_string(address.port);

  // An address written out needs no name server: no thread, no wait.
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (calls.resolve(address.host.c_str(), service.c_str(), &hints, &list.head) == 0) return true;
  list.head = nullptr;

  hints.ai_flags = AI_NUMERICSERV;
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, calls, host = address.host, service, hints] {
      addrinfo* result = nullptr;
      const int status = calls.resolve(host.c_str(), service.c_str(), &hints, &result);
      const int err = errno;
      std::lock_guard lock(lookup->m);
      if (lookup->abandoned) {
        if (result) calls.release(result);
        return;
      }
      lookup->status = status;
      lookup->err = err;
      lookup->result = result;
      lookup->done = true;
      lookup->cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    *failure = Failure(kErrorNotEnoughMemory, "cannot start resolving " + address.host);
    return false;
  }
  std::unique_lock lock(lookup->m);
  if (!lookup->cv.wait_until(lock, deadline, [&] { return lookup->done; })) {
    lookup->abandoned = true;
    *failure = Failure(kErrorSemTimeout, "no answer for the host name " + address.host +
                                             " within " + SecondsText(limit));
    return false;
  }
  if (lookup->status != 0) {
    const std::string why =
        lookup->status == EAI_SYSTEM ? std::strerror(lookup->err) : ::gai_strerror(lookup->status);
    *failure = Failure(WinErrorFromResolver(lookup->status, lookup->err),
                       "cannot find the host " + address.host + ": " + why);
    return false;
  }
  list.head = lookup->result;
  return true;
}

// Connects a non-blocking socket to one address; 0 or an errno value (ETIMEDOUT at the deadline).
int ConnectOne(const addrinfo& a, Clock::time_point deadline, int* fdOut) {
  const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
  if (fd < 0) return errno;
  if (::connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const long long left = MillisecondsLeft(deadline);
      const int ready = ::poll(&p, 1, static_cast<int>(left > INT_MAX ? INT_MAX : left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        const int err = ready == 0 ? ETIMEDOUT : errno;
        ::close(fd);
        return err;
      }
      break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      ::close(fd);
      return err;
    }
  }
  *fdOut = fd;
  return 0;
}

void SetUpConnection(int fd) {
  const int on = 1;
  // The tool sends single line feeds and waits for the answer: no coalescing delay.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
}

}  // namespace

ResolverCalls SystemResolverCalls() {
  return ResolverCalls{&SystemResolve, &SystemRelease};
}

ResolverCalls& Resolver() {
  static ResolverCalls calls = SystemResolverCalls();
  return calls;
}

Connection ConnectTo(const NetAddress& address, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  AddressList list;
  Connection failure;
  if (!Resolve(address, deadline, limit, list, &failure)) return failure;

  // Every address the name has, in the resolver's order; the last failure is the one told.
  int lastErr = EHOSTUNREACH;
  for (const addrinfo* a = list.head; a != nullptr; a = a->ai_next) {
    int fd = -1;
    lastErr = ConnectOne(*a, deadline, &fd);
    if (lastErr == 0) {
      SetUpConnection(fd);
      Connection c;
      c.fd = fd;
      return c;
    }
    if (lastErr == ETIMEDOUT) break;
  }
  const std::string endpoint = DescribeEndpoint(address);
  if (lastErr == ETIMEDOUT) {
    return Failure(kErrorSemTimeout,
                   "no answer from " + endpoint + " within " + SecondsText(limit));
  }
  return Failure(WinErrorFromErrno(lastErr, ErrnoContext::kOpen),
                 "cannot connect to " + endpoint + ": " + std::strerror(lastErr));
}

}  // namespace drv::posix
