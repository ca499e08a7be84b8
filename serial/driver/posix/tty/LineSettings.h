// A DCB as a tty's termios fields carry it: raw mode, framing, software and hardware flow
// control. What the engine does itself with a DCB, whatever the line, is in DcbRules.h.
#pragma once

#include <termios.h>

#include <cstdint>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

// Whether the kernel marks line errors and breaks in-band (PARMRK). A pseudo-terminal never
// has any, and marking would only cost every byte a pass through the line discipline.
enum class LineErrors { kMarked, kNone };

// Raw mode as the engine needs it whatever the DCB says: no line editing or translation, line
// errors and breaks marked in-band where the line can have them, one byte makes a read ready.
void MakeRawForEngine(termios& t, LineErrors lineErrors);

// Fills t (which holds the tty's current state) for the DCB: raw mode plus the DCB's framing
// and flow control. Sets *needsArbitraryRate when the rate has no Bxxx constant.
void ApplyDcbToTermios(const Dcb& dcb, LineErrors lineErrors, termios& t, bool* needsArbitraryRate);

}  // namespace drv::posix
