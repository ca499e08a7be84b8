// Events on Windows: the handle is the kernel event HANDLE itself, so an overlapped block's
// event can be handed to kernel32 unchanged.
#include "runtime/Event.h"

#include <windows.h>

namespace rt {

static_assert(sizeof(EventHandle) == sizeof(HANDLE));
static_assert(kWaitObject0 == WAIT_OBJECT_0 && kWaitTimeout == WAIT_TIMEOUT &&
              kWaitFailed == WAIT_FAILED && kInfinite == INFINITE);

EventHandle CreateEventA(bool manualReset, bool initialState) {
  return ::CreateEventA(nullptr, manualReset, initialState, nullptr);
}

bool SetEvent(EventHandle event) {
  return ::SetEvent(event) != FALSE;
}
bool ResetEvent(EventHandle event) {
  return ::ResetEvent(event) != FALSE;
}
bool CloseEvent(EventHandle event) {
  return event != nullptr && ::CloseHandle(event) != FALSE;
}

std::uint32_t WaitForSingleObject(EventHandle event, std::uint32_t timeoutMs) {
  return ::WaitForSingleObject(event, timeoutMs);
}

std::uint32_t WaitForMultipleObjects(std::uint32_t count, const EventHandle* events,
                                     std::uint32_t timeoutMs) {
  if (count == 0 || events == nullptr) return kWaitFailed;
  return ::WaitForMultipleObjects(count, events, FALSE, timeoutMs);
}

}  // namespace rt
