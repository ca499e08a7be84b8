#include "serial/driver/posix/net/ComPortSession.h"

#include <algorithm>
#include <cstring>

namespace drv::posix {
namespace {

using telnet::kOptBinary;
using telnet::kOptComPort;
using State = telnet::OptionTable::State;

// Suppress Go Ahead: every server of binary serial data wants it, and it costs nothing.
constexpr std::uint8_t kOptSuppressGoAhead = 3;

// What a SET-CONTROL value is about: a server answers with the value now in effect, which may
// differ from the one asked for, but is of the same group.
enum ControlGroup { kOutboundFlow, kBreak, kDtr, kRts, kInboundFlow };

ControlGroup GroupOf(std::uint8_t value) {
  if (value >= 4 && value <= 6) return kBreak;
  if (value >= 7 && value <= 9) return kDtr;
  if (value >= 10 && value <= 12) return kRts;
  if (value >= 13 && value <= 16) return kInboundFlow;
  return kOutboundFlow;  // 0..3 and 17..19
}

// One number for each kind of request a server confirms on its own.
int KindOf(std::uint8_t command, const std::uint8_t* value, std::size_t n) {
  if (command == rfc2217::kSetControl && n > 0) return command * 16 + GroupOf(value[0]);
  return command * 16;
}

int KindOf(const rfc2217::Request& r) {
  return KindOf(r.command, r.value.data(), r.value.size());
}

std::string Describe(const rfc2217::Request& r) {
  const std::uint8_t v = r.value.empty() ? 0 : r.value[0];
  switch (r.command) {
    case rfc2217::kSetBaudRate: {
      std::uint32_t baud = 0;
      for (const std::uint8_t b : r.value) baud = baud << 8 | b;
      return "baud rate " + std::to_string(baud);
    }
    case rfc2217::kSetDataSize:
      return std::to_string(v) + " data bits";
    case rfc2217::kSetParity: {
      static const char* const names[] = {"?", "none", "odd", "even", "mark", "space"};
      return std::string("parity ") + (v <= 5 ? names[v] : "?");
    }
    case rfc2217::kSetStopSize:
      return v == 3 ? "1.5 stop bits" : std::to_string(v) + " stop bit" + (v == 1 ? "" : "s");
    case rfc2217::kSetControl:
      switch (v) {
        case rfc2217::kFlowOutNone:
          return "no outbound flow control";
        case rfc2217::kFlowOutXonXoff:
          return "outbound XON/XOFF";
        case rfc2217::kFlowOutHardware:
          return "outbound hardware flow control";
        case rfc2217::kDtrOn:
          return "DTR on";
        case rfc2217::kDtrOff:
          return "DTR off";
        case rfc2217::kRtsOn:
          return "RTS on";
        case rfc2217::kRtsOff:
          return "RTS off";
        case rfc2217::kFlowInNone:
          return "no inbound flow control";
        case rfc2217::kFlowInXonXoff:
          return "inbound XON/XOFF";
        case rfc2217::kFlowInHardware:
          return "inbound hardware flow control";
        default:
          return "control " + std::to_string(v);
      }
    default:
      return "request " + std::to_string(r.command);
  }
}

}  // namespace

ComPortSession::ComPortSession() {
  options_.Accept(kOptBinary, true, true);
  options_.Accept(kOptComPort, true, false);
  options_.Accept(kOptSuppressGoAhead, true, true);
}

void ComPortSession::Begin(std::vector<std::uint8_t>& out) {
  options_.RequestLocal(kOptBinary, out);
  options_.RequestRemote(kOptBinary, out);
  options_.RequestLocal(kOptComPort, out);
}

bool ComPortSession::Negotiating() const {
  return options_.Pending(kOptBinary) || options_.Pending(kOptComPort);
}

bool ComPortSession::ComPortControl() const {
  return options_.Local(kOptComPort) == State::kYes;
}

ComPortSession::Taken ComPortSession::Take(const std::uint8_t* raw, std::size_t n,
                                           std::uint8_t* data, std::vector<std::uint8_t>& out) {
  data_ = data;
  out_ = &out;
  taken_ = Taken{};
  decoder_.Feed(raw, n, *this);
  data_ = nullptr;
  out_ = nullptr;
  return taken_;
}

void ComPortSession::OnData(const std::uint8_t* data, std::size_t n) {
  std::memcpy(data_ + taken_.data, data, n);
  taken_.data += n;
}

void ComPortSession::OnNegotiation(std::uint8_t verb, std::uint8_t option) {
  options_.Receive(verb, option, *out_);
  // What the server sends is binary once it has agreed to send binary; what follows in this
  // very chunk is decoded so already.
  decoder_.SetBinary(options_.Remote(kOptBinary) == State::kYes);
  if (ComPortControl() && !masksSent_) {
    // Line and modem state changes are what a local port reports as events.
    masksSent_ = true;
    for (const rfc2217::Request& r : rfc2217::NotificationMasks()) rfc2217::Encode(r, *out_);
  }
}

void ComPortSession::OnSubnegotiation(std::uint8_t option, const std::uint8_t* payload,
                                      std::size_t n) {
  if (option != kOptComPort || n == 0) return;
  if (Confirms(payload[0], payload + 1, n - 1)) return;
  taken_.events |= server_.Take(payload, n);
  taken_.errors |= server_.TakeErrors();
}

bool ComPortSession::Confirms(std::uint8_t serverCommand, const std::uint8_t* value,
                              std::size_t n) {
  if (serverCommand <= rfc2217::kServerOffset) return false;
  const std::uint8_t command = serverCommand - rfc2217::kServerOffset;
  const int kind = KindOf(command, value, n);
  const auto it = std::find_if(awaited_.begin(), awaited_.end(), [&](const rfc2217::Request& r) {
    return rfc2217::Answers(r, serverCommand) && KindOf(r) == kind;
  });
  if (it == awaited_.end()) return false;
  awaited_.erase(it);
  return true;
}

void ComPortSession::EncodeData(const std::uint8_t* data, std::size_t n,
                                std::vector<std::uint8_t>& out) const {
  telnet::EncodeData(data, n, options_.Local(kOptBinary) == State::kYes, out);
}

void ComPortSession::RequestSettings(const Dcb& dcb, Clock::time_point until,
                                     std::vector<std::uint8_t>& out) {
  for (const rfc2217::Request& r : rfc2217::RequestsFor(dcb)) {
    rfc2217::Encode(r, out);
    if (!unconfirmedKinds_.count(KindOf(r))) awaited_.push_back(r);
  }
  awaitedUntil_ = until;
}

void ComPortSession::RequestPurge(std::uint32_t purgeFlags, std::vector<std::uint8_t>& out) {
  for (const rfc2217::Request& r : rfc2217::PurgeRequestsFor(purgeFlags)) {
    rfc2217::Encode(r, out);
  }
}

bool ComPortSession::Unconfirmed(Clock::time_point* until) const {
  if (awaited_.empty()) return false;
  *until = awaitedUntil_;
  return true;
}

std::string ComPortSession::StopWaiting() {
  std::string told;
  for (const rfc2217::Request& r : awaited_) {
    if (!unconfirmedKinds_.insert(KindOf(r)).second) continue;
    told += (told.empty() ? "" : ", ") + Describe(r);
  }
  awaited_.clear();
  return told;
}

}  // namespace drv::posix
