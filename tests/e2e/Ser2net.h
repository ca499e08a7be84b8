// A real ser2net for a test: started with a configuration of its own on a free loopback port,
// its connector a pseudo-terminal slave the test names, waited for until it listens, and
// killed at the end. The system's configuration is never read, and a device that is not a
// pseudo-terminal slave is refused: /dev/ttyS0 may be the system console.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/Process.h"

namespace e2e {

class Ser2net {
 public:
  enum class Kind { kRfc2217, kRawTcp };

  // The installed program, or empty when ser2net is not installed.
  static std::string Program();

  // Starts ser2net for `device` (a /dev/pts/N path) in `workDir`, with the connection options
  // given ("chardelay: false"). Check Ready() afterwards; Problem() says what went wrong.
  Ser2net(const std::string& device, Kind kind, const std::string& workDir,
          const std::vector<std::string>& options = {});
  ~Ser2net();
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;

  bool Ready() const { return port_ != 0; }
  const std::string& Problem() const { return problem_; }
  int Port() const { return port_; }
  // The port name the tool opens: rfc2217://127.0.0.1:PORT or tcp://127.0.0.1:PORT.
  std::string Url() const;
  // Ends it at once (SIGKILL), as a crash or a pulled power cord would.
  void Kill();
  std::string Output() const;

 private:
  bool StartOn(int port, const std::string& device, const std::string& workDir,
               const std::vector<std::string>& options);

  std::unique_ptr<Process> process_;
  Kind kind_;
  int port_ = 0;
  std::string problem_;
};

inline void PrintTo(Ser2net::Kind kind, std::ostream* os) {
  *os << (kind == Ser2net::Kind::kRfc2217 ? "telnet(rfc2217)" : "raw tcp");
}

// Whether something listens on 127.0.0.1:port (read from /proc/net/tcp, connecting nothing).
bool ListensOnLoopback(int port);
// A TCP port on 127.0.0.1 that nothing listens on now.
int FreeLoopbackPort();

}  // namespace e2e
