#include "tests/unit/serial/posix/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "serial/driver/posix/net/TelnetCodec.h"
#include "serial/driver/posix/net/TelnetOptions.h"

namespace nettest {

namespace telnet = drv::posix::telnet;
namespace rfc2217 = drv::posix::rfc2217;

struct ScriptedServer::Protocol final : telnet::DecoderSink {
  explicit Protocol(ScriptedServer& s) : server(s) {
    options.Accept(telnet::kOptBinary, true, true);
    options.Accept(telnet::kOptComPort, false, s.behaviour_.agreeComPort);
  }
  void OnData(const std::uint8_t* d, std::size_t n) override {
    std::lock_guard lock(server.m_);
    server.data_.insert(server.data_.end(), d, d + n);
  }
  void OnNegotiation(std::uint8_t verb, std::uint8_t option) override {
    Bytes reply;
    options.Receive(verb, option, reply);
    decoder.SetBinary(options.Remote(telnet::kOptBinary) == telnet::OptionTable::State::kYes);
    if (!reply.empty()) server.Send(reply);
  }
  void OnSubnegotiation(std::uint8_t option, const std::uint8_t* p, std::size_t n) override {
    if (option != telnet::kOptComPort || n == 0) return;
    rfc2217::Request r{p[0], Bytes(p + 1, p + n)};
    {
      std::lock_guard lock(server.m_);
      server.requests_.push_back(r);
    }
    const Behaviour& b = server.behaviour_;
    const bool unanswered =
        !b.answerSettings || (r.command == rfc2217::kSetControl && !r.value.empty() &&
                              b.unansweredControls.count(r.value[0]));
    // Settings (1..5) are answered with the value in effect; masks and purges are not.
    if (!unanswered && r.command >= rfc2217::kSetBaudRate && r.command <= rfc2217::kSetControl) {
      server.SendComPort(static_cast<std::uint8_t>(r.command + rfc2217::kServerOffset), r.value);
    }
  }

  ScriptedServer& server;
  telnet::Decoder decoder;
  telnet::OptionTable options;
};

ScriptedServer::ScriptedServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  const int family = behaviour_.ipv6 ? AF_INET6 : AF_INET;
  listenFd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a{};
  socklen_t len;
  if (behaviour_.ipv6) {
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&a);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = in6addr_loopback;
    len = sizeof *a6;
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a4;
  }
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
      ::listen(listenFd_, 1) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("cannot listen on loopback");
  }
  port_ = ntohs(behaviour_.ipv6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  protocol_ = new Protocol(*this);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(m_);
    stop_ = true;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
  DropClient();
  ::close(listenFd_);
  ::close(wakeFd_);
  delete protocol_;
}

std::string ScriptedServer::Url() const {
  const std::string host = behaviour_.ipv6 ? "[::1]" : "127.0.0.1";
  return std::string(behaviour_.telnet ? "rfc2217://" : "tcp://") + host + ":" +
         std::to_string(port_);
}

void ScriptedServer::Run() {
  for (;;) {
    int client;
    bool held;
    {
      std::lock_guard lock(m_);
      if (stop_) return;
      client = clientFd_;
      held = holdReading_;
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0},
                     {client >= 0 ? (held ? -1 : client) : listenFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
      continue;
    }
    if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    if (client < 0) {
      const int accepted = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      // What the test sends goes at once, as a serial server's bytes do.
      const int on = 1;
      ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      {
        std::lock_guard lock(m_);
        clientFd_ = accepted;
        changed_.notify_all();
      }
      if (!behaviour_.greeting.empty()) SendData(behaviour_.greeting);
      continue;
    }
    std::uint8_t buffer[4096];
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) {
      DropClient();
      continue;
    }
    Take(buffer, static_cast<std::size_t>(n));
  }
}

void ScriptedServer::Take(const std::uint8_t* bytes, std::size_t n) {
  {
    std::lock_guard lock(m_);
    raw_.insert(raw_.end(), bytes, bytes + n);
  }
  if (behaviour_.telnet) {
    protocol_->decoder.Feed(bytes, n, *protocol_);
  } else {
    std::lock_guard lock(m_);
    data_.insert(data_.end(), bytes, bytes + n);
  }
  std::lock_guard lock(m_);
  changed_.notify_all();
}

void ScriptedServer::Send(const Bytes& bytes) {
  std::lock_guard lock(m_);
  std::size_t done = 0;
  while (clientFd_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::send(clientFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

void ScriptedServer::SendRaw(const Bytes& bytes) {
  Send(bytes);
}

void ScriptedServer::SendData(const Bytes& bytes) {
  Bytes wire;
  telnet::EncodeData(bytes.data(), bytes.size(), true, wire);
  Send(wire);
}

void ScriptedServer::SendComPort(std::uint8_t command, const Bytes& value) {
  Bytes payload{command};
  payload.insert(payload.end(), value.begin(), value.end());
  Bytes wire;
  telnet::EncodeSubnegotiation(telnet::kOptComPort, payload.data(), payload.size(), wire);
  Send(wire);
}

void ScriptedServer::CloseClient() {
  // The server's thread may be polling the descriptor: it closes it when it sees the end.
  std::lock_guard lock(m_);
  if (clientFd_ >= 0) ::shutdown(clientFd_, SHUT_RDWR);
}

void ScriptedServer::HoldReading(bool hold) {
  {
    std::lock_guard lock(m_);
    holdReading_ = hold;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void ScriptedServer::DropClient() {
  std::lock_guard lock(m_);
  if (clientFd_ >= 0) ::close(clientFd_);
  clientFd_ = -1;
  changed_.notify_all();
}

bool ScriptedServer::AwaitClient(Ms limit) {
  std::unique_lock lock(m_);
  return changed_.wait_for(lock, limit, [&] { return clientFd_ >= 0; });
}

bool ScriptedServer::AwaitData(std::size_t n, Ms limit) {
  std::unique_lock lock(m_);
  return changed_.wait_for(lock, limit, [&] { return data_.size() >= n; });
}

bool ScriptedServer::AwaitRequests(std::size_t n, Ms limit) {
  std::unique_lock lock(m_);
  return changed_.wait_for(lock, limit, [&] { return requests_.size() >= n; });
}

Bytes ScriptedServer::Data() const {
  std::lock_guard lock(m_);
  return data_;
}

Bytes ScriptedServer::Raw() const {
  std::lock_guard lock(m_);
  return raw_;
}

std::vector<rfc2217::Request> ScriptedServer::Requests() const {
  std::lock_guard lock(m_);
  return requests_;
}

}  // namespace nettest
