// POSIX: a thread's wait for another thread that keeps serving what that thread may be
// blocked on: calls handed over to the main thread and messages sent to this thread's hidden
// windows. The three sources are events, so one multi-wait sleeps until any of them is set.
#include "runtime/HandOver.h"
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"
#include "runtime/posix/Inbox.h"

namespace rt::detail {

void WaitServingHandOver(EventHandle done) {
  const bool onMain = IsMainThread();
  const EventHandle handles[] = {done, CurrentInbox()->arrived.Handle(), HandOverSignal()};
  const std::uint32_t count = onMain ? 3 : 2;
  for (;;) {
    // Served before every wait: a call queued before the signal was consumed is not missed.
    if (onMain) RunBlockedCalls();
    DeliverSentMessages();
    const std::uint32_t result = WaitForMultipleObjects(count, handles, kInfinite);
    if (result == kWaitObject0 || result == kWaitFailed) return;
  }
}

}  // namespace rt::detail
