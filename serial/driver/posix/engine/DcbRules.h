// A DCB as the engine understands it, whatever the line: validation with the Windows rules,
// what the engine does to received bytes itself (NUL discarding, the event and error
// characters), and the levels the modem control lines take. How a line carries the rest is
// the line's own (termios for a tty, Com Port Control requests for a serial server).
#pragma once

#include <cstdint>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

// The part of the DCB the engine applies to received bytes itself.
struct ReceiveRules {
  bool discardNull = false;
  bool checkParity = false;    // fParity
  bool replaceErrors = false;  // fErrorChar, only with fParity
  std::uint8_t errorChar = 0;
  std::uint8_t eventChar = 0;
  bool lineHasParity = false;  // a marked byte is a parity error, else a framing error
  bool abortOnError = false;
  std::uint32_t bitsPerSecond = 9600;
  std::uint32_t bitsPerCharacter = 10;  // start + data + parity + stop, for drain estimates
};

enum class LineLevel { kOff, kOn };

struct ModemControl {
  LineLevel dtr = LineLevel::kOff;
  LineLevel rts = LineLevel::kOff;
};

// Returns kErrorSuccess or kErrorInvalidParameter for a block Windows would refuse.
std::uint32_t ValidateDcb(const Dcb& dcb);

ReceiveRules ReceiveRulesFor(const Dcb& dcb);
ModemControl ModemControlFor(const Dcb& dcb);

// The DCB's DTR and RTS control fields (DTR_CONTROL_*, RTS_CONTROL_*).
inline std::uint32_t DtrControl(const Dcb& dcb) {
  return (dcb.Flags & kFDtrControlMask) >> kFDtrControlShift;
}
inline std::uint32_t RtsControl(const Dcb& dcb) {
  return (dcb.Flags & kFRtsControlMask) >> kFRtsControlShift;
}

}  // namespace drv::posix
