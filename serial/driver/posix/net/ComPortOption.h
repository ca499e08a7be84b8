// The Com Port Control option of Telnet (RFC 2217): a DCB as the settings a serial server is
// asked for, purges and line controls as requests, and what a server reports (line state,
// modem state, flow control of the connection) as the words and events of a Windows port.
// Pure: values in, bytes or words out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "serial/driver/CommTypes.h"

namespace drv::posix::rfc2217 {

// Client-to-server commands; a server answers or notifies with the same code plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kNotifyLineState = 6;
inline constexpr std::uint8_t kNotifyModemState = 7;
inline constexpr std::uint8_t kFlowControlSuspend = 8;
inline constexpr std::uint8_t kFlowControlResume = 9;
inline constexpr std::uint8_t kSetLineStateMask = 10;
inline constexpr std::uint8_t kSetModemStateMask = 11;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values.
inline constexpr std::uint8_t kFlowOutNone = 1;
inline constexpr std::uint8_t kFlowOutXonXoff = 2;
inline constexpr std::uint8_t kFlowOutHardware = 3;
inline constexpr std::uint8_t kBreakOn = 5;
inline constexpr std::uint8_t kBreakOff = 6;
inline constexpr std::uint8_t kDtrOn = 8;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kRtsOn = 11;
inline constexpr std::uint8_t kRtsOff = 12;
inline constexpr std::uint8_t kFlowInNone = 14;
inline constexpr std::uint8_t kFlowInXonXoff = 15;
inline constexpr std::uint8_t kFlowInHardware = 16;

// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1;
inline constexpr std::uint8_t kPurgeTransmit = 2;
inline constexpr std::uint8_t kPurgeBoth = 3;

// One request: a command and its value (a baud rate is four bytes, network order).
struct Request {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> value;
  bool operator==(const Request&) const = default;
};

// The requests that put a server's port into the DCB's framing, flow control and DTR/RTS
// levels, in the order a server applies them. Handshake DTR/RTS need the server's flow
// control, so they ask for hardware flow control and leave the level to it.
std::vector<Request> RequestsFor(const Dcb& dcb);

// PurgeComm's clear flags as a PURGE-DATA request; none when nothing is to be cleared.
std::vector<Request> PurgeRequestsFor(std::uint32_t purgeFlags);

// Asks for every line-state and modem-state change to be notified.
std::vector<Request> NotificationMasks();

// IAC SB COM-PORT-OPTION command value IAC SE, escaped.
void Encode(const Request& request, std::vector<std::uint8_t>& out);

// Whether a server's message answers a request: the same command, plus 100.
bool Answers(const Request& request, std::uint8_t serverCommand);

// What the server's notifications mean for the port.
class ServerState {
 public:
  // Takes one COM-PORT-OPTION subnegotiation from the server. Returns the EV_ bits it raises.
  std::uint32_t Take(const std::uint8_t* payload, std::size_t n);

  std::uint32_t ModemStatus() const { return modem_; }  // MS_*_ON
  std::uint32_t TakeErrors() {                          // CE_* since the last call
    const std::uint32_t e = errors_;
    errors_ = 0;
    return e;
  }
  bool OutputSuspended() const { return suspended_; }

 private:
  std::uint32_t modem_ = 0;
  std::uint32_t errors_ = 0;
  bool suspended_ = false;
};

}  // namespace drv::posix::rfc2217
