#include "serial/DriverWords.h"

#include <array>
#include <utility>

#include "serial/driver/CommTypes.h"

namespace {

constexpr std::array<std::uint32_t, 10> kEventBits = {
    drv::kEvRxChar, drv::kEvTxEmpty, drv::kEvRxFlag, drv::kEvRing, drv::kEvBreak,
    drv::kEvCts,    drv::kEvDsr,     drv::kEvErr,    drv::kEvRlsd, drv::kEvRx80Full};

constexpr std::array<std::pair<std::uint32_t, TComError>, 7> kErrorBits = {{
    {drv::kCeFrame, ceFrame},
    {drv::kCeOverrun, ceOverrun},
    {drv::kCeBreak, ceBreak},
    {drv::kCeIoe, ceIO},
    {drv::kCeMode, ceMode},
    {drv::kCeRxOver, ceRxOver},
    {drv::kCeTxFull, ceTxFull},
}};

constexpr std::array<std::pair<std::uint32_t, TLineSignal>, 4> kModemBits = {{
    {drv::kMsCtsOn, lsCTS},
    {drv::kMsDsrOn, lsDSR},
    {drv::kMsRingOn, lsRing},
    {drv::kMsRlsdOn, lsRLSD},
}};

}  // namespace

std::uint32_t EventBit(TEvent event) {
  const auto i = static_cast<std::size_t>(event);
  return i < kEventBits.size() ? kEventBits[i] : 0;
}

std::uint32_t EventMaskOf(TEvents events) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kEventBits.size(); ++i) {
    if (events.Contains(static_cast<TEvent>(i))) mask |= kEventBits[i];
  }
  return mask;
}

TComErrors ComErrorsFrom(std::uint32_t errorWord, bool parityCheck) {
  TComErrors errors;
  for (const auto& [bit, error] : kErrorBits) {
    if (errorWord & bit) errors.Include(error);
  }
  if (parityCheck && (errorWord & drv::kCeRxParity)) errors.Include(ceRxParity);
  return errors;
}

TLineSignals LineSignalsFrom(std::uint32_t modemStatus) {
  TLineSignals signals;
  for (const auto& [bit, signal] : kModemBits) {
    if (modemStatus & bit) signals.Include(signal);
  }
  return signals;
}
