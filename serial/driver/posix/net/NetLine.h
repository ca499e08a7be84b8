// A serial server's network port as a port's line: a TCP connection that carries the line's
// bytes as they are (tcp://) or inside Telnet with Com Port Control (rfc2217://), where the
// port's settings, purges and the server's line and modem states travel as well.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/driver/posix/engine/Line.h"
#include "serial/driver/posix/net/ComPortSession.h"
#include "serial/driver/posix/net/NetAddress.h"

namespace drv::posix {

struct NetLineLimits {
  std::chrono::milliseconds connect{10000};     // name resolution and connection together
  std::chrono::milliseconds negotiation{3000};  // the server's answers to the options asked for
  std::chrono::milliseconds confirmation{400};  // the server's answers to settings requests
};

class NetLine final : public Line {
 public:
  // Connects to the port `name` names; on failure returns nullptr with *error and *reason.
  static std::unique_ptr<NetLine> Open(const std::string& name, std::uint32_t* error,
                                       std::string* reason, const NetLineLimits& limits = {});
  ~NetLine() override;

  int Fd() const override { return fd_; }
  bool MarksLineErrors() const override { return false; }
  Input Read(std::uint8_t* buffer, std::size_t max) override;
  bool InputHeld() const override { return heldAt_ < held_.size(); }
  long Write(const std::uint8_t* data, std::size_t n) override;
  bool OwnOutputWaiting() const override { return !out_.empty(); }
  bool OutputSuspended() const override { return session_ && session_->OutputSuspended(); }
  bool FlushOwnOutput() override;
  bool OutputQueued(std::uint32_t* queued) override;
  std::uint32_t Apply(const Dcb& dcb) override;
  bool Unconfirmed(Clock::time_point* until) const override;
  void StopWaitingForConfirmation() override;
  std::uint32_t ModemStatus(std::uint32_t* status) override;
  void Purge(bool transmit, bool receive) override;
  std::unique_ptr<LineActivity> WatchLineChanges(LineChangeReport report) override;
  void Close() override;

 private:
  NetLine(int fd, std::string name, const NetLineLimits& limits)
      : fd_(fd), name_(std::move(name)), limits_(limits) {}
  // Waits for the server's answers to the options asked for; false when the connection ended.
  bool Negotiate();
  // Reads one chunk into `data` (room for `max` bytes); false when the connection has ended.
  bool ReceiveChunk(std::uint8_t* data, std::size_t max, Input& in);
  void Note(const std::string& text) const;
  void DropHeldData();

  int fd_;
  std::string name_;
  NetLineLimits limits_;
  std::unique_ptr<ComPortSession> session_;  // none for tcp://
  std::vector<std::uint8_t> out_;            // encoded bytes not yet taken by the socket
  std::size_t dataInOut_ = 0;                // how many of them, at the front, are line data
  std::vector<std::uint8_t> held_;           // line data read while negotiating
  std::size_t heldAt_ = 0;
  bool gone_ = false;
  bool toldNoControl_ = false;
};

}  // namespace drv::posix
