#include "tests/e2e/Ser2net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

using namespace std::chrono_literals;

// A few tries: another test may take the free port between our look and ser2net's bind.
constexpr int kAttempts = 5;
constexpr auto kListenLimit = 10s;

}  // namespace

bool ListensOnLoopback(int port) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == wanted && state == "0A") return true;  // 0A: LISTEN
  }
  return false;
}

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

std::string Ser2net::Program() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return {};
}

Ser2net::Ser2net(const std::string& device, Kind kind, const std::string& workDir,
                 const std::vector<std::string>& options)
    : kind_(kind) {
  if (Program().empty()) {
    problem_ = "ser2net is not installed (scripts/install-deps.sh installs it)";
    return;
  }
  // Only a pseudo-terminal: whatever else a test might name could be the system console.
  if (device.rfind("/dev/pts/", 0) != 0) {
    problem_ = "refusing to give ser2net " + device + ": only /dev/pts/N devices";
    return;
  }
  for (int attempt = 0; attempt < kAttempts && !Ready(); ++attempt) {
    const int port = FreeLoopbackPort();
    if (port != 0 && StartOn(port, device, workDir, options)) port_ = port;
  }
}

Ser2net::~Ser2net() {
  Kill();
}

bool Ser2net::StartOn(int port, const std::string& device, const std::string& workDir,
                      const std::vector<std::string>& options) {
  const std::string base = workDir + "/ser2net-" + std::to_string(port);
  std::string config = "connection: &zwtest\n  accepter: ";
  config += kind_ == Kind::kRfc2217 ? "telnet(rfc2217),tcp" : "tcp";
  config += ",127.0.0.1," + std::to_string(port) + "\n";
  // "local": a pty has no modem lines to wait for.
  config += "  connector: serialdev," + device + ",115200n81,local\n";
  if (!options.empty()) config += "  options:\n";
  for (const std::string& option : options) config += "    " + option + "\n";
  WriteFile(base + ".yaml", config);
  // -n: no fork; -u: no UUCP lock files; -c: this file instead of the system's; -P: a pid file
  // of its own.
  process_ = std::make_unique<Process>(
      std::vector<std::string>{Program(), "-n", "-u", "-c", base + ".yaml", "-P", base + ".pid"},
      workDir);
  const auto end = std::chrono::steady_clock::now() + kListenLimit;
  while (std::chrono::steady_clock::now() < end) {
    if (ListensOnLoopback(port)) return true;
    if (process_->Wait(10ms)) break;  // it ended: the port was taken, or the file refused
  }
  problem_ = "ser2net did not listen on port " + std::to_string(port) + ": " + Output();
  process_.reset();
  return false;
}

std::string Ser2net::Url() const {
  return std::string(kind_ == Kind::kRfc2217 ? "rfc2217" : "tcp") +
         "://127.0.0.1:" + std::to_string(port_);
}

void Ser2net::Kill() {
  if (!process_) return;
  process_->Signal(SIGKILL);
  process_->Wait(10s);
}

std::string Ser2net::Output() const {
  return process_ ? process_->Stdout() + process_->Stderr() : problem_;
}

}  // namespace e2e
