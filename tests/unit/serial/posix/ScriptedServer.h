// A serial server of the test's own on a loopback port, for what a real one cannot be made to
// do on demand: leave settings unconfirmed, notify line and modem states, suspend the data
// flow, refuse options. It speaks Telnet with Com Port Control (or raw bytes), records what the
// port sends and sends what the test tells it to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/driver/posix/net/ComPortOption.h"

namespace nettest {

using Bytes = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;

class ScriptedServer {
 public:
  struct Behaviour {
    bool telnet = true;
    bool agreeComPort = true;
    // SET-CONTROL values it takes without answering (a server's port without modem lines).
    std::set<std::uint8_t> unansweredControls;
    bool answerSettings = true;
    bool ipv6 = false;
    // Sent as soon as the client connects, ahead of anything else.
    Bytes greeting;
  };

  explicit ScriptedServer(Behaviour behaviour);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::string Url() const;

  // Each waits up to `limit` for its condition and says whether it came.
  bool AwaitClient(Ms limit);
  bool AwaitData(std::size_t n, Ms limit);
  bool AwaitRequests(std::size_t n, Ms limit);

  void SendRaw(const Bytes& bytes);
  // Line data, IAC doubled.
  void SendData(const Bytes& bytes);
  // IAC SB COM-PORT-OPTION command value IAC SE.
  void SendComPort(std::uint8_t command, const Bytes& value);
  void CloseClient();
  // While held, nothing the client sends is read: its bytes pile up in the sockets' buffers.
  void HoldReading(bool hold);

  Bytes Data() const;  // line data received, decoded
  Bytes Raw() const;   // every byte received
  std::vector<drv::posix::rfc2217::Request> Requests() const;

 private:
  void Run();
  void Take(const std::uint8_t* bytes, std::size_t n);
  void Send(const Bytes& bytes);
  void DropClient();

  Behaviour behaviour_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::thread thread_;

  mutable std::mutex m_;
  std::condition_variable changed_;
  int clientFd_ = -1;
  bool stop_ = false;
  bool holdReading_ = false;
  Bytes data_, raw_;
  std::vector<drv::posix::rfc2217::Request> requests_;
  struct Protocol;
  Protocol* protocol_ = nullptr;  // the Telnet side, touched only by the server's thread
};

}  // namespace nettest
