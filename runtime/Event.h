// Events with the Windows semantics the serial component is written against.
//
// The component creates, signals, resets, waits for and closes events by handle, exactly as it
// would with kernel32. On Windows a handle is a real event HANDLE; on POSIX it points to an
// object made of a mutex and a condition variable with waiter registration, so that one thread
// can wait on several events at once without polling.
#pragma once

#include <cstdint>

namespace rt {

using EventHandle = void*;

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

// Returns nullptr on failure (which the component does not examine, as on Windows).
EventHandle CreateEventA(bool manualReset, bool initialState);
bool SetEvent(EventHandle event);
bool ResetEvent(EventHandle event);
bool CloseEvent(EventHandle event);

// An auto-reset event is consumed by the wait that reports it.
std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t timeoutMs);
// Waits until any one is signalled; reports the lowest signalled index as kWaitObject0 + i.
std::uint32_t WaitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                     std::uint32_t timeoutMs);

// RAII owner for code that does not need to mirror the handle calls.
class Event {
 public:
  Event(bool manualReset, bool initialState) : h_(CreateEventA(manualReset, initialState)) {}
  ~Event() { CloseEvent(h_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set() { SetEvent(h_); }
  void Reset() { ResetEvent(h_); }
  bool Wait(std::uint32_t timeoutMs = kInfinite) {
    return WaitForSingleObject(h_, timeoutMs) == kWaitObject0;
  }
  EventHandle Handle() const { return h_; }

 private:
  EventHandle h_;
};

}  // namespace rt
