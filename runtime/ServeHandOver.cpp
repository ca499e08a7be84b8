// What every GUI loop runs when it is woken or idle.
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"

namespace rt {

bool ServeHandOver() {
  bool ran = false;
  // A sent message's procedure may queue a call, and a queued call may send: round again
  // until both are empty, or what was handed on waits for the next wake-up.
  while (CheckSynchronize() || DeliverSentMessages()) ran = true;
  return ran;
}

}  // namespace rt
