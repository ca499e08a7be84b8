// TComThread: the event watcher of one open TComX.
//
// One wait request at the driver at a time, and one wait on two events (StopSignal first, the
// wait's own event second, so a stop wins). Each completed wait leads to one dispatch that
// covers every event it reported, on the thread the port's SyncMethod names; the next wait
// starts only after the dispatch has returned. The loop ends on StopSignal, or when a handler
// raises or the device goes away; the latter two are reported once to the main thread and the
// port stays open until closed.
#pragma once

#include <cstdint>

#include "runtime/Event.h"
#include "runtime/Thread.h"

class TComX;

// The window message that carries one event to SyncWindow under smWindowSync (WM_USER + 1).
inline constexpr std::uint32_t WM_PORTEVENT = 1025;

class TComThread : public rt::Thread {
 public:
  // Tells the driver the event mask from the port's Events and starts watching at once.
  explicit TComThread(TComX* owner);
  // Signals StopSignal and waits for the loop to end (serving hand-over meanwhile).
  ~TComThread() override;

  void StopThread();
  TComX* OwnerPort() const { return ownerPort_; }
  std::uint32_t EventMask() const { return mask_; }

 protected:
  void Execute() override { WatchLoop(); }

 private:
  void WatchLoop();
  void DispatchEvents();
  void CallEventHandlers();
  void SendEventMessages();

  TComX* ownerPort_ = nullptr;
  // The events of the last completed wait, taken from its wait block for the dispatch. The
  // driver writes into the block only, which can outlive this object.
  std::uint32_t detectedEvents_ = 0;
  // Released by the destructor only, after StopThread has signalled it: a loop that ended on
  // its own must not leave the destructor a dead handle.
  rt::EventHandle stopSignal_ = nullptr;
  std::uint32_t mask_ = 0;
};
