// The words the driver reports, turned into the component's sets, and the component's event
// set turned into the driver's event mask. This is the one place where driver bits become
// TComError, TLineSignal and TEvent elements and back.
#pragma once

#include <cstdint>

#include "serial/ComTypes.h"

// The driver event bit (EV_*) that each TEvent selects.
std::uint32_t EventBit(TEvent event);
std::uint32_t EventMaskOf(TEvents events);
// From ClearCommError's error word. Parity errors count only while parity is checked; the
// bits the component does not report (CE_PTO, CE_DNS, CE_OOP) are dropped.
TComErrors ComErrorsFrom(std::uint32_t errorWord, bool parityCheck);
// From GetCommModemStatus's status word.
TLineSignals LineSignalsFrom(std::uint32_t modemStatus);
