#include "serial/driver/posix/engine/DcbRules.h"

namespace drv::posix {

std::uint32_t ValidateDcb(const Dcb& dcb) {
  if (dcb.BaudRate == 0) return kErrorInvalidParameter;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return kErrorInvalidParameter;
  if (dcb.Parity > kSpaceParity) return kErrorInvalidParameter;
  // Windows' own rule: 1.5 stop bits exist only with 5 data bits, 2 only with 6 to 8.
  if (dcb.StopBits == kOne5StopBits && dcb.ByteSize != 5) return kErrorInvalidParameter;
  if (dcb.StopBits == kTwoStopBits && dcb.ByteSize == 5) return kErrorInvalidParameter;
  if (dcb.StopBits > kTwoStopBits) return kErrorInvalidParameter;
  if (DtrControl(dcb) > kDtrControlHandshake) return kErrorInvalidParameter;
  if ((dcb.Flags & (kFOutX | kFInX)) != 0 && dcb.XonChar == dcb.XoffChar) {
    return kErrorInvalidParameter;
  }
  return kErrorSuccess;
}

ReceiveRules ReceiveRulesFor(const Dcb& dcb) {
  ReceiveRules rules;
  rules.discardNull = (dcb.Flags & kFNull) != 0;
  rules.checkParity = (dcb.Flags & kFParity) != 0;
  rules.replaceErrors = rules.checkParity && (dcb.Flags & kFErrorChar) != 0;
  rules.errorChar = static_cast<std::uint8_t>(dcb.ErrorChar);
  rules.eventChar = static_cast<std::uint8_t>(dcb.EvtChar);
  rules.lineHasParity = dcb.Parity != kNoParity;
  rules.abortOnError = (dcb.Flags & kFAbortOnError) != 0;
  rules.bitsPerSecond = dcb.BaudRate;
  rules.bitsPerCharacter =
      1u + dcb.ByteSize + (rules.lineHasParity ? 1u : 0u) + (dcb.StopBits == kOneStopBit ? 1u : 2u);
  return rules;
}

ModemControl ModemControlFor(const Dcb& dcb) {
  ModemControl mc;
  // DTR handshake has no Linux counterpart: DTR is held on, as it is while handshaking idles.
  mc.dtr = DtrControl(dcb) == kDtrControlDisable ? LineLevel::kOff : LineLevel::kOn;
  // RTS handshake raises RTS and lets CRTSCTS drive it; RTS toggle (raise only while sending)
  // has no generic Linux counterpart and holds RTS on.
  mc.rts = RtsControl(dcb) == kRtsControlDisable ? LineLevel::kOff : LineLevel::kOn;
  return mc;
}

}  // namespace drv::posix
