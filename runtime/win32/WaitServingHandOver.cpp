// Windows: a thread's wait for another thread that keeps serving what that thread may be
// blocked on: calls handed over to the main thread and messages sent to this thread's
// windows. Only sent messages wake the wait; posted ones, timers and input stay queued.
#include <windows.h>

#include "runtime/HandOver.h"
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"

namespace rt::detail {

void WaitServingHandOver(EventHandle done) {
  const bool onMain = IsMainThread();
  const HANDLE handles[] = {done, HandOverSignal()};
  const DWORD count = onMain ? 2 : 1;
  for (;;) {
    // Served before every wait: what arrived before the wait began is not missed.
    if (onMain) RunBlockedCalls();
    DeliverSentMessages();
    const DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) return;
  }
}

}  // namespace rt::detail
