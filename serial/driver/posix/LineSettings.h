// A DCB as a tty understands it: validation with the Windows rules, the termios fields, and
// what only the engine itself can do (NUL discarding, the event and error characters).
#pragma once

#include <termios.h>

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

// Whether the kernel marks line errors and breaks in-band (PARMRK). A pseudo-terminal never
// has any, and marking would only cost every byte a pass through the line discipline.
enum class LineErrors { kMarked, kNone };

// Raw mode as the engine needs it whatever the DCB says: no line editing or translation, line
// errors and breaks marked in-band where the line can have them, one byte makes a read ready.
void MakeRawForEngine(termios& t, LineErrors lineErrors);

// Fills t (which holds the tty's current state) for the DCB: raw mode plus the DCB's framing
// and flow control. Sets *needsArbitraryRate when the rate has no Bxxx constant.
void ApplyDcbToTermios(const Dcb& dcb, LineErrors lineErrors, termios& t, bool* needsArbitraryRate);

ReceiveRules ReceiveRulesFor(const Dcb& dcb);
ModemControl ModemControlFor(const Dcb& dcb);

}  // namespace drv::posix
