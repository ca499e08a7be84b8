// The handler callers: each makes the status query its handler needs only when the handler
// is assigned.
#include "runtime/HiddenWindow.h"
#include "serial/ComThread.h"
#include "serial/CportX1.h"
#include "serial/EventRoutes.h"

void TComX::FireRxChar() {
  if (OnRxChar) OnRxChar(this, BytesWaiting());
}
void TComX::FireTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TComX::FireBreak() {
  if (OnBreak) OnBreak(this);
}
void TComX::FireRing() {
  if (OnRing) OnRing(this);
}
void TComX::FireCTSChange() {
  if (OnCTSChange) OnCTSChange(this, ModemSignals().Contains(lsCTS));
}
void TComX::FireDSRChange() {
  if (OnDSRChange) OnDSRChange(this, ModemSignals().Contains(lsDSR));
}
void TComX::FireRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TComX::FireRLSDChange() {
  if (OnRLSDChange) OnRLSDChange(this, ModemSignals().Contains(lsRLSD));
}
void TComX::FireError() {
  if (OnError) OnError(this, PendingErrors());
}
void TComX::FireRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

void TComX::HandleSyncMessage(rt::Message& Message) {
  if (Message.Msg != WM_PORTEVENT) {
    Message.Result =
        syncWindow_ ? syncWindow_->DefWindowProcA(Message.Msg, Message.WParam, Message.LParam) : 0;
    return;
  }
  for (const EventRoute& route : kDispatchOrder) {
    if (Message.WParam != route.bit) continue;
    // A window procedure has no way to pass an exception on (on Windows it would have to
    // cross the system's message dispatch), so the watcher takes it over once the send
    // returns and ends watching as under the other methods.
    try {
      (this->*route.fire)();
    } catch (...) {
      syncMessageFailure_ = std::current_exception();
    }
    return;
  }
}

std::exception_ptr TComX::TakeSyncMessageFailure() {
  std::exception_ptr failure = syncMessageFailure_;
  syncMessageFailure_ = nullptr;
  return failure;
}
