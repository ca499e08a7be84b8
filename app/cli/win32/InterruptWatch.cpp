// Windows runs a console's Ctrl-C handler on a thread it makes for the purpose, so the handler
// itself may set the flag and wake the loop.
#include "app/cli/InterruptWatch.h"

#include <atomic>
#include <csignal>

namespace cli {

struct InterruptWatch::State {
  std::function<void()> wake;
  std::atomic<bool> interrupted{false};
  void (*previousInt)(int) = SIG_DFL;
  void (*previousTerm)(int) = SIG_DFL;
};

namespace {

std::atomic<InterruptWatch::State*> current{nullptr};

extern "C" void OnSignal(int signo) {
  // The runtime puts the default action back before it calls a handler.
  std::signal(signo, OnSignal);
  if (InterruptWatch::State* s = current.load()) {
    s->interrupted = true;
    if (s->wake) s->wake();
  }
}

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> wake) : state_(std::make_unique<State>()) {
  state_->wake = std::move(wake);
  current = state_.get();
  state_->previousInt = std::signal(SIGINT, OnSignal);
  state_->previousTerm = std::signal(SIGTERM, OnSignal);
}

InterruptWatch::~InterruptWatch() {
  std::signal(SIGINT, state_->previousInt);
  std::signal(SIGTERM, state_->previousTerm);
  current = nullptr;
}

bool InterruptWatch::Interrupted() const {
  return state_->interrupted;
}

}  // namespace cli
