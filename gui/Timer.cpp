// The timer model: decides when the backend's clock runs, and keeps a tick from re-entering.
#include "gui/Timer.h"

#include "gui/Application.h"

namespace gui {

Timer::~Timer() {
  peer_.reset();
}

void Timer::SetInterval(int value) {
  if (interval_ == value) return;
  interval_ = value;
  Update();
}

void Timer::SetEnabled(bool value) {
  // A second enable must leave the running period alone: the wake-up flow re-enables its timer
  // on every received chunk and relies on the ticks keeping their rhythm.
  if (enabled_ == value) return;
  enabled_ = value;
  Update();
}

void Timer::Tick() {
  if (!enabled_ || ticking_) return;
  // A handler that pumps messages or shows the error box would otherwise let the next period's
  // tick run inside this one.
  ticking_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{ticking_};
  Dispatch([this] {
    if (OnTimer) OnTimer(this);
  });
}

void Timer::AttachPeer(std::unique_ptr<TimerPeer> peer) {
  peer_ = std::move(peer);
  Update();
}

void Timer::Update() {
  if (!peer_) return;
  if (enabled_ && interval_ > 0) {
    peer_->Start(interval_);
  } else {
    peer_->Stop();
  }
}

}  // namespace gui
