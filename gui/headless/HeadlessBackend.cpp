#include "gui/headless/HeadlessBackend.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "runtime/MainThread.h"

namespace gui::headless {
namespace {

std::int64_t RealMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A form whose window is "shown" only in the backend's bookkeeping.
class NullPeer : public gui::Peer {
 public:
  void Sync() override {}
};

// A loop that keeps finding work is bounded, as a posted call that posts itself again would
// otherwise never let ProcessMessages return.
constexpr int kMaxRoundsPerPump = 10000;

}  // namespace

// One model timer's schedule on the backend's clock.
class HeadlessBackend::TimerClock : public gui::TimerPeer {
 public:
  TimerClock(HeadlessBackend& backend, gui::Form& form, gui::Timer& timer)
      : backend_(backend), form_(form), timer_(timer) {
    backend_.clocks_.push_back(this);
  }
  ~TimerClock() override {
    auto& v = backend_.clocks_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  void Start(int intervalMs) override {
    interval_ = intervalMs;
    due_ = backend_.NowMs() + intervalMs;
    seq_ = backend_.nextSeq_++;
    running_ = true;
  }
  void Stop() override { running_ = false; }

  bool Running() const { return running_ && !form_.Closed(); }
  std::int64_t Due() const { return due_; }
  std::uint64_t Seq() const { return seq_; }
  void Fire() {
    // The next period counts from this one's end, as a system timer's would.
    due_ += interval_;
    if (due_ <= backend_.NowMs() && !backend_.virtual_) due_ = backend_.NowMs() + interval_;
    seq_ = backend_.nextSeq_++;
    timer_.Tick();
  }

 private:
  HeadlessBackend& backend_;
  gui::Form& form_;
  gui::Timer& timer_;
  bool running_ = false;
  int interval_ = 0;
  std::int64_t due_ = 0;
  std::uint64_t seq_ = 0;
};

HeadlessBackend::HeadlessBackend(bool virtualClock) : virtual_(virtualClock), realStart_(RealMs()) {
  rt::SetMainThreadWakeup([this] {
    {
      std::lock_guard lock(wakeMutex_);
      woken_ = true;
    }
    // After the unlock, so the main thread does not wake only to block on the mutex.
    wakeCv_.notify_all();
  });
}

HeadlessBackend::~HeadlessBackend() {
  rt::SetMainThreadWakeup(nullptr);
  if (gui::App().GetBackend() == this) gui::App().SetBackend(nullptr);
}

std::int64_t HeadlessBackend::NowMs() const {
  return virtual_ ? virtualNow_ : RealMs() - realStart_;
}

bool HeadlessBackend::IsShown(const gui::Form& form) const {
  return !form.Closed() && std::find(shown_.begin(), shown_.end(), &form) != shown_.end();
}

void HeadlessBackend::CreatePeers(gui::Form& form) {
  form.AttachPeer(std::make_unique<NullPeer>());
  for (const auto& c : form.Controls()) c->AttachPeer(std::make_unique<NullPeer>());
  for (const auto& t : form.Timers()) t->AttachPeer(std::make_unique<TimerClock>(*this, form, *t));
}

gui::Size HeadlessBackend::OuterSize(const gui::Form& form) {
  return {form.ClientWidth() + frameExtents_.Width, form.ClientHeight() + frameExtents_.Height};
}

void HeadlessBackend::Show(gui::Form& form) {
  if (std::find(shown_.begin(), shown_.end(), &form) == shown_.end()) shown_.push_back(&form);
}

HeadlessBackend::TimerClock* HeadlessBackend::EarliestDue(std::int64_t notAfter) const {
  TimerClock* best = nullptr;
  for (TimerClock* c : clocks_) {
    if (!c->Running() || c->Due() > notAfter) continue;
    if (!best || c->Due() < best->Due() || (c->Due() == best->Due() && c->Seq() < best->Seq()))
      best = c;
  }
  return best;
}

std::int64_t HeadlessBackend::NextDueMs() const {
  const TimerClock* c = EarliestDue(INT64_MAX);
  return c ? c->Due() : -1;
}

bool HeadlessBackend::RunDueTicks() {
  bool ran = false;
  // Each timer fires at most once per round; a handler's nested pump may fire others.
  std::vector<TimerClock*> fired;
  const std::int64_t now = NowMs();
  for (;;) {
    TimerClock* next = nullptr;
    for (TimerClock* c : clocks_) {
      if (!c->Running() || c->Due() > now) continue;
      if (std::find(fired.begin(), fired.end(), c) != fired.end()) continue;
      if (!next || c->Due() < next->Due() || (c->Due() == next->Due() && c->Seq() < next->Seq()))
        next = c;
    }
    if (!next) return ran;
    fired.push_back(next);
    next->Fire();
    ran = true;
  }
}

bool HeadlessBackend::ServeOnce() {
  {
    std::lock_guard lock(wakeMutex_);
    woken_ = false;
  }
  bool ran = false;
  ran |= rt::ServeHandOver();
  while (!closes_.empty()) {
    gui::Form* f = closes_.front();
    closes_.pop_front();
    f->RequestClose();
    ran = true;
  }
  ran |= RunDueTicks();
  return ran;
}

void HeadlessBackend::ProcessMessages() {
  for (int round = 0; round < kMaxRoundsPerPump && ServeOnce(); ++round) {
  }
}

void HeadlessBackend::WaitForWake(std::int64_t realTimeoutMs) {
  std::unique_lock lock(wakeMutex_);
  if (realTimeoutMs < 0) {
    wakeCv_.wait(lock, [&] { return woken_; });
  } else {
    wakeCv_.wait_for(lock, std::chrono::milliseconds(realTimeoutMs), [&] { return woken_; });
  }
}

void HeadlessBackend::AdvanceBy(std::int64_t ms) {
  if (!virtual_) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      ProcessMessages();
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return;
      // Rounded up, so the last wait does not end a fraction of a millisecond early.
      std::int64_t wait = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
      const std::int64_t due = NextDueMs();
      if (due >= 0) wait = std::min(wait, std::max<std::int64_t>(0, due - NowMs()));
      WaitForWake(wait);
    }
  }
  const std::int64_t target = virtualNow_ + ms;
  ProcessMessages();
  for (;;) {
    TimerClock* next = EarliestDue(target);
    if (!next) break;
    virtualNow_ = std::max(virtualNow_, next->Due());
    ProcessMessages();
  }
  virtualNow_ = std::max(virtualNow_, target);
  ProcessMessages();
}

bool HeadlessBackend::RunUntil(const std::function<bool()>& pred, int realTimeoutMs) {
  // A precise deadline: a truncated millisecond clock would let the wait end up to 1 ms early.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  for (;;) {
    ProcessMessages();
    if (pred()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return pred();
    std::int64_t wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    if (!virtual_) {
      const std::int64_t due = NextDueMs();
      if (due >= 0) wait = std::min(wait, std::max<std::int64_t>(0, due - NowMs()));
    }
    WaitForWake(wait);
  }
}

void HeadlessBackend::Run(gui::Form& form) {
  // How long an idle virtual loop listens for other threads before it lets time jump to the
  // next tick; the result never depends on it, only how soon the jump happens.
  constexpr std::int64_t kVirtualIdleMs = 20;
  while (!form.Closed()) {
    ProcessMessages();
    if (form.Closed()) break;
    const std::int64_t due = NextDueMs();
    if (virtual_) {
      if (due < 0) {
        WaitForWake(-1);
        continue;
      }
      WaitForWake(kVirtualIdleMs);
      bool woken;
      {
        std::lock_guard lock(wakeMutex_);
        woken = woken_;
      }
      if (!woken) virtualNow_ = std::max(virtualNow_, due);
    } else {
      WaitForWake(due < 0 ? -1 : std::max<std::int64_t>(0, due - NowMs()));
    }
  }
  shown_.erase(std::remove(shown_.begin(), shown_.end(), &form), shown_.end());
}

void HeadlessBackend::ShowErrorBox(const std::string& caption, const std::string& text) {
  errorBoxes_.push_back(ErrorBox{caption, text});
  if (hook_) {
    // The hook may show boxes itself; hand it a copy that the vector's growth cannot move.
    const ErrorBox box = errorBoxes_.back();
    hook_(box);
  } else {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  }
}

void HeadlessBackend::OpenDocument(const std::string& address) {
  opened_.push_back(address);
}

void HeadlessBackend::PostClose(gui::Form& form) {
  closes_.push_back(&form);
  std::lock_guard lock(wakeMutex_);
  woken_ = true;
  wakeCv_.notify_all();
}

}  // namespace gui::headless
