#include "serial/ComThread.h"

#include <memory>
#include <mutex>
#include <vector>

#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/DriverWords.h"
#include "serial/EventRoutes.h"

namespace {

// Errors with which a completed wait says that the device itself is gone, so that no event
// will ever come again: a USB adapter pulled out (Windows drivers report 5, 22 or 31,
// depending on the adapter), a hang-up (1167, what the termios engine reports when the tty
// hangs up) and a handle that no longer works (6). Any other failed wait (995, a wait
// abandoned by the driver) dispatches nothing and the loop waits again.
bool MeansDeviceGone(std::uint32_t error) {
  switch (error) {
    case drv::kErrorAccessDenied:
    case drv::kErrorInvalidHandle:
    case drv::kErrorBadCommand:
    case drv::kErrorGenFailure:
    case drv::kErrorDeviceNotConnected:
      return true;
    default:
      return false;
  }
}

// A driver that fails wait after wait with no event in between (Wine on a pseudo-terminal
// completes every wait at once with 995) would keep the loop busy for ever: after this many
// in a row the watcher gives up as if the device were gone.
constexpr int kFailedWaitsBeforeGivingUp = 3;

// How long the loop gives the driver to let go of a wait that it asked to end.
constexpr std::uint32_t kWaitReleaseGraceMs = 1000;

constexpr std::uint32_t kPurgeAll =
    drv::kPurgeTxAbort | drv::kPurgeRxAbort | drv::kPurgeTxClear | drv::kPurgeRxClear;

// What one wait request hands the driver: the overlapped block and the word it writes the
// occurred events into. They go together, because a driver that keeps the request keeps both.
struct WaitBlock {
  drv::Overlapped overlapped;
  std::uint32_t events = 0;
};

// Wait blocks that a driver never gave back. They stay allocated, and reachable, for the rest
// of the process: the driver may still write into them at any time, even at exit.
void Abandon(std::unique_ptr<WaitBlock> block) {
  struct Abandoned {
    std::mutex m;
    std::vector<std::unique_ptr<WaitBlock>> blocks;
  };
  static Abandoned* const abandoned = new Abandoned;
  std::lock_guard lock(abandoned->m);
  abandoned->blocks.push_back(std::move(block));
}

}  // namespace

TComThread::TComThread(TComX* owner) {
  // The base created the thread suspended; nothing below races with the body.
  stopSignal_ = rt::CreateEventA(true, false);
  ownerPort_ = owner;
  mask_ = EventMaskOf(owner->Events());
  owner->Driver().SetCommMask(owner->DeviceHandle(), mask_);
  try {
    Resume();
  } catch (...) {
    // No destructor runs for an object that was never made: the signal is released here.
    rt::CloseEvent(stopSignal_);
    throw;
  }
}

TComThread::~TComThread() {
  StopThread();
  TerminateAndWait();
  rt::CloseEvent(stopSignal_);
}

void TComThread::StopThread() {
  rt::SetEvent(stopSignal_);
}

void TComThread::WatchLoop() {
  drv::CommDriver& driver = ownerPort_->Driver();
  const drv::Handle device = ownerPort_->DeviceHandle();
  // On the heap, so that it can outlive the loop (and this object) if the driver will not let
  // go of it.
  auto block = std::make_unique<WaitBlock>();
  block->overlapped.hEvent = rt::CreateEventA(true, true);
  const rt::EventHandle handles[2] = {stopSignal_, block->overlapped.hEvent};
  bool waitOutstanding = false;
  int failedWaits = 0;

  // Watching has ended for good: report it once, then wait idle for Close.
  auto giveUp = [&](std::uint32_t error) {
    rt::ReportBackgroundError(
        std::make_exception_ptr(EComPort(CError_AsyncCheck, static_cast<std::int32_t>(error))));
    rt::WaitForSingleObject(stopSignal_, rt::kInfinite);
  };

  try {
    for (;;) {
      if (!driver.WaitCommEvent(device, &block->events, &block->overlapped)) {
        const std::uint32_t error = driver.GetLastError();
        if (error != drv::kErrorIoPending) {
          // Waiting on the event of a request that never started would dispatch stale
          // events or spin.
          giveUp(error);
          break;
        }
      }
      waitOutstanding = true;
      if (rt::WaitForMultipleObjects(2, handles, rt::kInfinite) != rt::kWaitObject0 + 1) break;
      waitOutstanding = false;
      std::uint32_t count = 0;
      if (driver.GetOverlappedResult(device, &block->overlapped, &count, false)) {
        failedWaits = 0;
        detectedEvents_ = block->events;
        DispatchEvents();
        continue;
      }
      const std::uint32_t error = driver.GetLastError();
      if (MeansDeviceGone(error) || ++failedWaits >= kFailedWaitsBeforeGivingUp) {
        giveUp(error);
        break;
      }
    }
  } catch (...) {
    // A handler (or its status query) raised. Watching ends; the report runs later on the
    // main thread, never inside the dispatch. No wait is outstanding here: dispatches run only
    // after a wait has completed.
    rt::ReportBackgroundError(std::current_exception());
    rt::CloseEvent(block->overlapped.hEvent);
    throw;
  }

  driver.PurgeComm(device, kPurgeAll);
  const rt::EventHandle waitEvent = block->overlapped.hEvent;
  if (waitOutstanding && rt::WaitForSingleObject(waitEvent, 0) != rt::kWaitObject0) {
    // Windows cancels a thread's requests when the thread ends; a driver elsewhere would keep
    // this one and later write into the block and its event word. Setting the mask again
    // ends an outstanding wait, as on Windows.
    driver.SetCommMask(device, mask_);
    if (rt::WaitForSingleObject(waitEvent, kWaitReleaseGraceMs) != rt::kWaitObject0) {
      // The driver still refers to the block, its event and its word: none may go.
      Abandon(std::move(block));
      return;
    }
  }
  rt::CloseEvent(waitEvent);
}

void TComThread::DispatchEvents() {
  switch (ownerPort_->SyncMethod()) {
    case smThreadSync:
      Synchronize([this] { CallEventHandlers(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
    default:
      CallEventHandlers();
      break;
  }
}

void TComThread::CallEventHandlers() {
  for (const EventRoute& route : kDispatchOrder) {
    if (detectedEvents_ & route.bit) (ownerPort_->*route.fire)();
  }
}

void TComThread::SendEventMessages() {
  rt::HiddenWindow* window = ownerPort_->SyncWindow();
  if (!window) return;
  for (const EventRoute& route : kDispatchOrder) {
    if (!(detectedEvents_ & route.bit)) continue;
    window->SendMessageA(WM_PORTEVENT, route.bit, 0);
    if (std::exception_ptr failure = ownerPort_->TakeSyncMessageFailure()) {
      std::rethrow_exception(failure);
    }
  }
}
