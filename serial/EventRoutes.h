// Which Fire operation each driver event bit runs, in the order a dispatch runs them. The
// order is fixed and is not the ordinal order of TEvent.
#pragma once

#include <array>
#include <cstdint>

#include "serial/CportX1.h"

struct EventRoute {
  std::uint32_t bit;
  void (TComX::*fire)();
};

inline constexpr std::array<EventRoute, 10> kDispatchOrder = {{
    {drv::kEvRxChar, &TComX::FireRxChar},
    {drv::kEvTxEmpty, &TComX::FireTxEmpty},
    {drv::kEvBreak, &TComX::FireBreak},
    {drv::kEvRing, &TComX::FireRing},
    {drv::kEvCts, &TComX::FireCTSChange},
    {drv::kEvDsr, &TComX::FireDSRChange},
    {drv::kEvRxFlag, &TComX::FireRxFlag},
    {drv::kEvRlsd, &TComX::FireRLSDChange},
    {drv::kEvErr, &TComX::FireError},
    {drv::kEvRx80Full, &TComX::FireRx80Full},
}};
