// The client's side of a Telnet connection with Com Port Control: the options it negotiates,
// what the server sends split into line data, answers and notifications, and the settings
// requests with their confirmations. Pure: bytes and times in, bytes out; NetLine does the
// socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "serial/driver/CommTypes.h"
#include "serial/driver/posix/net/ComPortOption.h"
#include "serial/driver/posix/net/TelnetCodec.h"
#include "serial/driver/posix/net/TelnetOptions.h"

namespace drv::posix {

class ComPortSession final : private telnet::DecoderSink {
 public:
  using Clock = std::chrono::steady_clock;

  ComPortSession();

  // The option requests a connection opens with: BINARY both ways and COM-PORT-OPTION.
  void Begin(std::vector<std::uint8_t>& out);
  // Whether one of those is still unanswered.
  bool Negotiating() const;
  // Whether the server agreed to take settings.
  bool ComPortControl() const;

  struct Taken {
    std::size_t data = 0;      // line data bytes placed
    std::uint32_t events = 0;  // EV_ bits of notifications
    std::uint32_t errors = 0;  // CE_ bits of notifications
  };
  // Takes n bytes from the server. Line data goes to `data`, which has room for n bytes (the
  // data is never longer than what carried it); replies to the server go to `out`.
  Taken Take(const std::uint8_t* raw, std::size_t n, std::uint8_t* data,
             std::vector<std::uint8_t>& out);

  // Line data for the server, escaped.
  void EncodeData(const std::uint8_t* data, std::size_t n, std::vector<std::uint8_t>& out) const;

  // The DCB's settings as requests, each awaited until `until` unless the server has left one
  // of its kind unconfirmed before.
  void RequestSettings(const Dcb& dcb, Clock::time_point until, std::vector<std::uint8_t>& out);
  // PurgeComm's clear flags; not awaited.
  void RequestPurge(std::uint32_t purgeFlags, std::vector<std::uint8_t>& out);
  bool Unconfirmed(Clock::time_point* until) const;
  // Stops waiting. Returns the settings still unconfirmed, in words, except those of a kind
  // already reported: the server is not asked to confirm that kind again.
  std::string StopWaiting();

  std::uint32_t ModemStatus() const { return server_.ModemStatus(); }
  bool OutputSuspended() const { return server_.OutputSuspended(); }

 private:
  void OnData(const std::uint8_t* data, std::size_t n) override;
  void OnNegotiation(std::uint8_t verb, std::uint8_t option) override;
  void OnSubnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n) override;
  // Whether a server message answers an awaited request; if so the request is no longer awaited.
  bool Confirms(std::uint8_t serverCommand, const std::uint8_t* value, std::size_t n);

  telnet::OptionTable options_;
  telnet::Decoder decoder_;
  rfc2217::ServerState server_;
  bool masksSent_ = false;

  std::vector<rfc2217::Request> awaited_;
  Clock::time_point awaitedUntil_{};
  std::set<int> unconfirmedKinds_;

  // Where the current Take puts its results.
  std::uint8_t* data_ = nullptr;
  std::vector<std::uint8_t>* out_ = nullptr;
  Taken taken_;
};

}  // namespace drv::posix
