// POSIX emulation of a thread's queue of sent messages: what SendMessageA from another thread
// leaves for the thread that owns the hidden window, until that thread delivers it.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/Event.h"
#include "runtime/HiddenWindow.h"

namespace rt::detail {

struct SentMessage {
  const void* window = nullptr;  // identifies the window it is for
  const HiddenWindow::Procedure* procedure = nullptr;
  Message message;
  std::mutex m;
  std::condition_variable cv;
  bool handled = false;
  std::exception_ptr error;
};

struct Inbox {
  std::thread::id owner;
  std::mutex m;
  std::deque<std::shared_ptr<SentMessage>> queue;
  Event arrived{false, false};  // auto-reset: wakes the owner's wait
};

// The calling thread's inbox, created on first use.
const std::shared_ptr<Inbox>& CurrentInbox();

}  // namespace rt::detail
