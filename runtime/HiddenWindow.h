// A window that exists only to receive messages on the thread that created it.
//
// Windows: a real message-only window, Send = SendMessageA. POSIX: a queue served by the
// owner thread's loop and by Thread::WaitFor on that thread, with the same blocking contract:
// Send from another thread returns only after the owner has handled the message.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace rt {

struct Message {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

class HiddenWindow {
 public:
  using Procedure = std::function<void(Message&)>;
  explicit HiddenWindow(Procedure procedure);  // AllocateHWnd
  ~HiddenWindow();                              // DeallocateHWnd
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

  std::intptr_t SendMessageA(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
  std::intptr_t DefWindowProcA(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// POSIX: delivers messages sent to hidden windows owned by the calling thread. Returns
// whether any was delivered. (Windows delivers them inside any message retrieval.)
bool DeliverSentMessages();

}  // namespace rt
