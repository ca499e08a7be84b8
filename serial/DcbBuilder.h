// The driver blocks built from a port's settings: pure functions of the settings' values, no
// component and no device needed.
//
// The DCB is filled afresh from the settings alone every time (the driver's current state is
// never read back), so the same settings always give the same block on every platform.
#pragma once

#include <cstdint>

#include "serial/ComTypes.h"
#include "serial/SettingsValues.h"
#include "serial/driver/CommTypes.h"

// The driver value of each enumeration; 0 (or no bits) for a value outside it.
std::uint32_t BaudRateValue(TBaudRate rate);
std::uint8_t ByteSizeValue(TDataBits bits);
std::uint8_t StopBitsValue(TStopBits bits);
std::uint8_t ParityValue(TParityBits bits);
std::uint32_t DtrControlFlags(TDTRFlowControl control);
std::uint32_t RtsControlFlags(TRTSFlowControl control);

// The line group's block (TComX::LineSettings gives a port's values).
drv::Dcb BuildDcb(const LineValues& line);
// Each signed value goes into its unsigned field bit for bit: -1 becomes MAXDWORD.
drv::CommTimeouts BuildCommTimeouts(const TimeoutValues& timeouts);
