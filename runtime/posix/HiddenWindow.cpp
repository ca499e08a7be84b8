// The hidden window emulated on POSIX: a procedure owned by the creating thread, and a queue
// through which other threads send to it and block until the owner has handled the message.
#include "runtime/HiddenWindow.h"

#include "runtime/MainThread.h"
#include "runtime/posix/Inbox.h"

namespace rt {

namespace detail {
const std::shared_ptr<Inbox>& CurrentInbox() {
  thread_local const std::shared_ptr<Inbox> inbox = [] {
    auto created = std::make_shared<Inbox>();
    created->owner = std::this_thread::get_id();
    return created;
  }();
  return inbox;
}
}  // namespace detail

namespace {

// Every caller holds a shared reference to the message, so it outlives the notification.
void Release(detail::SentMessage& sent, std::exception_ptr error) {
  {
    std::lock_guard lock(sent.m);
    sent.error = std::move(error);
    sent.handled = true;
  }
  sent.cv.notify_all();
}

}  // namespace

struct HiddenWindow::Impl {
  Procedure procedure;
  std::shared_ptr<detail::Inbox> inbox;
  bool ownedByMainThread = false;
};

HiddenWindow::HiddenWindow(Procedure procedure) : impl_(std::make_unique<Impl>()) {
  impl_->procedure = std::move(procedure);
  impl_->inbox = detail::CurrentInbox();
  impl_->ownedByMainThread = IsMainThread();
}

HiddenWindow::~HiddenWindow() {
  // Senders still waiting for this window are released as if it had already gone: result 0.
  std::deque<std::shared_ptr<detail::SentMessage>> orphans;
  {
    std::lock_guard lock(impl_->inbox->m);
    auto& queue = impl_->inbox->queue;
    for (auto it = queue.begin(); it != queue.end();) {
      if ((*it)->window == impl_.get()) {
        orphans.push_back(std::move(*it));
        it = queue.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& sent : orphans) Release(*sent, nullptr);
}

std::intptr_t HiddenWindow::SendMessageA(std::uint32_t msg, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
  Message message{msg, wParam, lParam, 0};
  if (impl_->inbox->owner == std::this_thread::get_id()) {
    impl_->procedure(message);
    return message.Result;
  }
  auto sent = std::make_shared<detail::SentMessage>();
  sent->window = impl_.get();
  sent->procedure = &impl_->procedure;
  sent->message = message;
  {
    std::lock_guard lock(impl_->inbox->m);
    impl_->inbox->queue.push_back(sent);
  }
  impl_->inbox->arrived.Set();
  // The main thread's loop learns of the message through the same wake-up as a hand-over.
  if (impl_->ownedByMainThread) Post([] { DeliverSentMessages(); });
  std::exception_ptr error;
  {
    std::unique_lock lock(sent->m);
    sent->cv.wait(lock, [&] { return sent->handled; });
    // Taken out under the lock so that only this thread holds the exception from here on.
    error = std::move(sent->error);
  }
  if (error) std::rethrow_exception(error);
  return sent->message.Result;
}

std::intptr_t HiddenWindow::DefWindowProcA(std::uint32_t, std::uintptr_t, std::intptr_t) {
  return 0;
}

bool DeliverSentMessages() {
  const auto& inbox = detail::CurrentInbox();
  bool deliveredAny = false;
  for (;;) {
    std::shared_ptr<detail::SentMessage> sent;
    {
      std::lock_guard lock(inbox->m);
      if (inbox->queue.empty()) break;
      sent = std::move(inbox->queue.front());
      inbox->queue.pop_front();
    }
    deliveredAny = true;
    // The window stays alive while its message is queued: its destructor takes its messages
    // out of the queue under the same lock, and it is destroyed on this thread.
    std::exception_ptr error;
    try {
      (*sent->procedure)(sent->message);
    } catch (...) {
      error = std::current_exception();
    }
    Release(*sent, std::move(error));
  }
  return deliveredAny;
}

}  // namespace rt
