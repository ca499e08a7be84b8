// How the engine fills an overlapped block, the way the Windows I/O manager does: Internal
// holds the transfer's state (pending, or the Windows error it ended with, 0 for success),
// InternalHigh the byte count. The event is reset when a transfer starts, signalled when it
// completes, and left reset when the request fails at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/Event.h"
#include "serial/driver/CommTypes.h"

namespace drv::posix {

inline constexpr std::uintptr_t kStatusPending = 0x103;

inline std::uintptr_t LoadState(const Overlapped* ov) {
  return std::atomic_ref<std::uintptr_t>(const_cast<Overlapped*>(ov)->Internal)
      .load(std::memory_order_acquire);
}

inline void BeginTransfer(Overlapped* ov) {
  ov->InternalHigh = 0;
  std::atomic_ref<std::uintptr_t>(ov->Internal).store(kStatusPending, std::memory_order_release);
  if (ov->hEvent) rt::ResetEvent(ov->hEvent);
}

inline void CompleteTransfer(Overlapped* ov, std::uint32_t error, std::uint32_t bytes) {
  ov->InternalHigh = bytes;
  std::atomic_ref<std::uintptr_t>(ov->Internal).store(error, std::memory_order_release);
  if (ov->hEvent) rt::SetEvent(ov->hEvent);
}

// A request refused at once: the result is recorded, the event stays reset, so a caller that
// waits on it without looking at the refusal blocks instead of spinning.
inline void RefuseTransfer(Overlapped* ov, std::uint32_t error) {
  ov->InternalHigh = 0;
  std::atomic_ref<std::uintptr_t>(ov->Internal).store(error, std::memory_order_release);
}

}  // namespace drv::posix
