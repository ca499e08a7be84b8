#include "serial/driver/posix/net/ComPortOption.h"

#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/net/TelnetCodec.h"

namespace drv::posix::rfc2217 {

namespace {

// Line-state bits a server notifies.
constexpr std::uint8_t kLineOverrun = 0x02;
constexpr std::uint8_t kLineParity = 0x04;
constexpr std::uint8_t kLineFraming = 0x08;
constexpr std::uint8_t kLineBreak = 0x10;

// Modem-state bits a server notifies: the upper four are the levels, in the same places as
// the MS_*_ON bits; the lower four say which changed.
constexpr std::uint8_t kModemLevels = 0xF0;
constexpr std::uint8_t kDeltaCts = 0x01;
constexpr std::uint8_t kDeltaDsr = 0x02;
constexpr std::uint8_t kRingTrailingEdge = 0x04;
constexpr std::uint8_t kDeltaCd = 0x08;

Request Control(std::uint8_t value) {
  return {kSetControl, {value}};
}

std::uint8_t ParityValue(std::uint8_t parity) {
  switch (parity) {
    case kOddParity:
      return 2;
    case kEvenParity:
      return 3;
    case kMarkParity:
      return 4;
    case kSpaceParity:
      return 5;
    default:
      return 1;
  }
}

std::uint8_t StopSizeValue(std::uint8_t stopBits) {
  switch (stopBits) {
    case kTwoStopBits:
      return 2;
    case kOne5StopBits:
      return 3;
    default:
      return 1;
  }
}

}  // namespace

std::vector<Request> RequestsFor(const Dcb& dcb) {
  std::vector<Request> r;
  const std::uint32_t baud = dcb.BaudRate;
  r.push_back({kSetBaudRate,
               {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)}});
  r.push_back({kSetDataSize, {dcb.ByteSize}});
  r.push_back({kSetParity, {ParityValue(dcb.Parity)}});
  r.push_back({kSetStopSize, {StopSizeValue(dcb.StopBits)}});

  const std::uint32_t rts = (dcb.Flags & kFRtsControlMask) >> kFRtsControlShift;
  if (dcb.Flags & kFOutxCtsFlow) {
    r.push_back(Control(kFlowOutHardware));
  } else if (dcb.Flags & kFOutX) {
    r.push_back(Control(kFlowOutXonXoff));
  } else {
    r.push_back(Control(kFlowOutNone));
  }
  if (rts == kRtsControlHandshake) {
    r.push_back(Control(kFlowInHardware));
  } else if (dcb.Flags & kFInX) {
    r.push_back(Control(kFlowInXonXoff));
  } else {
    r.push_back(Control(kFlowInNone));
  }

  // The same levels a local tty is given, so a Box sees the same lines either way.
  const ModemControl levels = ModemControlFor(dcb);
  r.push_back(Control(levels.dtr == LineLevel::kOn ? kDtrOn : kDtrOff));
  if (rts != kRtsControlHandshake)
    r.push_back(Control(levels.rts == LineLevel::kOn ? kRtsOn : kRtsOff));
  return r;
}

std::vector<Request> PurgeRequestsFor(std::uint32_t purgeFlags) {
  const bool rx = purgeFlags & kPurgeRxClear;
  const bool tx = purgeFlags & kPurgeTxClear;
  if (rx && tx) return {{kPurgeData, {kPurgeBoth}}};
  if (rx) return {{kPurgeData, {kPurgeReceive}}};
  if (tx) return {{kPurgeData, {kPurgeTransmit}}};
  return {};
}

std::vector<Request> NotificationMasks() {
  return {{kSetLineStateMask, {kLineOverrun | kLineParity | kLineFraming | kLineBreak}},
          {kSetModemStateMask, {0xFF}}};
}

void Encode(const Request& request, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> payload;
  payload.reserve(1 + request.value.size());
  payload.push_back(request.command);
  payload.insert(payload.end(), request.value.begin(), request.value.end());
  telnet::EncodeSubnegotiation(telnet::kOptComPort, payload.data(), payload.size(), out);
}

bool Answers(const Request& request, std::uint8_t serverCommand) {
  return serverCommand == request.command + kServerOffset;
}

std::uint32_t ServerState::Take(const std::uint8_t* payload, std::size_t n) {
  if (n < 1) return 0;
  const std::uint8_t command = payload[0];
  switch (command) {
    case kServerOffset + kNotifyLineState: {
      if (n < 2) return 0;
      const std::uint8_t line = payload[1];
      std::uint32_t events = 0;
      if (line & kLineOverrun) errors_ |= kCeOverrun;
      if (line & kLineParity) errors_ |= kCeRxParity;
      if (line & kLineFraming) errors_ |= kCeFrame;
      if (line & (kLineOverrun | kLineParity | kLineFraming)) events |= kEvErr;
      if (line & kLineBreak) {
        errors_ |= kCeBreak;
        events |= kEvBreak;
      }
      return events;
    }
    case kServerOffset + kNotifyModemState: {
      if (n < 2) return 0;
      const std::uint8_t m = payload[1];
      const std::uint32_t levels = m & kModemLevels;
      // A server may leave out the delta bits: a level that differs from the last one known
      // is a change all the same.
      const std::uint32_t changed = levels ^ modem_;
      modem_ = levels;
      std::uint32_t events = 0;
      if ((m & kDeltaCts) || (changed & kMsCtsOn)) events |= kEvCts;
      if ((m & kDeltaDsr) || (changed & kMsDsrOn)) events |= kEvDsr;
      if ((m & kDeltaCd) || (changed & kMsRlsdOn)) events |= kEvRlsd;
      // A ring is reported as it ends, as the server's own flag has it.
      if ((m & kRingTrailingEdge) || ((changed & kMsRingOn) && !(levels & kMsRingOn))) {
        events |= kEvRing;
      }
      return events;
    }
    case kServerOffset + kFlowControlSuspend:
      suspended_ = true;
      return 0;
    case kServerOffset + kFlowControlResume:
      suspended_ = false;
      return 0;
    default:
      return 0;
  }
}

}  // namespace drv::posix::rfc2217
