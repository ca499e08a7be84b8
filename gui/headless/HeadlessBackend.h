// A backend without a display, for tests and the command-line program.
//
// It runs the same loop a GUI would: handed-over calls, messages sent to hidden windows,
// queued closes and timer ticks, all on the calling (main) thread. Time is either the real
// monotonic clock or a virtual one that only AdvanceBy moves, so that minutes of timer ticks
// run in microseconds and in a fixed order. The error box is recorded (and by default printed)
// instead of waiting for a user.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "gui/Forms.h"

namespace gui::headless {

class HeadlessBackend : public gui::Backend {
 public:
  explicit HeadlessBackend(bool virtualClock);  // registers the main thread's wake-up
  ~HeadlessBackend() override;
  HeadlessBackend(const HeadlessBackend&) = delete;
  HeadlessBackend& operator=(const HeadlessBackend&) = delete;

  bool VirtualClock() const { return virtual_; }
  // Milliseconds since the backend was made, virtual or real.
  std::int64_t NowMs() const;
  // Virtual clock: moves time in steps to each due tick (in order), serving the loop at every
  // step. Real clock: runs the loop for that long.
  void AdvanceBy(std::int64_t ms);
  // Runs the loop (without moving virtual time) until pred() holds or realTimeoutMs of real
  // time passed; returns pred(). Sleeps until woken between rounds; never spins.
  bool RunUntil(const std::function<bool()>& pred, int realTimeoutMs = 10000);

  struct ErrorBox {
    std::string caption, text;
  };
  const std::vector<ErrorBox>& ErrorBoxes() const { return errorBoxes_; }
  void ClearErrorBoxes() { errorBoxes_.clear(); }
  // Called when an error box is shown; the box is "dismissed" when the hook returns. Every box
  // is recorded either way; without a hook it is also printed to standard error.
  void SetErrorBoxHook(std::function<void(const ErrorBox&)> hook) { hook_ = std::move(hook); }
  void SetScreens(std::vector<gui::Rect> screens) { screens_ = std::move(screens); }
  // What a window frame adds to a form's client size; nothing unless a test plays a frame.
  void SetFrameExtents(gui::Size extents) { frameExtents_ = extents; }
  const std::vector<std::string>& OpenedDocuments() const { return opened_; }
  // Whether Show has been called for a form (and it has not closed).
  bool IsShown(const gui::Form& form) const;
  // When the next enabled timer is due, or -1 when none runs.
  std::int64_t NextDueMs() const;

  void CreatePeers(gui::Form& form) override;
  void Show(gui::Form& form) override;
  // With the virtual clock, time jumps to the next tick whenever no other thread has woken the
  // loop for a moment; tests that mix worker threads and ticks use RunUntil and AdvanceBy.
  void Run(gui::Form& form) override;
  void ProcessMessages() override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  void OpenDocument(const std::string& address) override;
  std::vector<gui::Rect> Screens() override { return screens_; }
  gui::Size OuterSize(const gui::Form& form) override;
  void PostClose(gui::Form& form) override;

 private:
  class TimerClock;
  friend class TimerClock;

  bool ServeOnce();
  bool RunDueTicks();
  void WaitForWake(std::int64_t realTimeoutMs);
  TimerClock* EarliestDue(std::int64_t notAfter) const;

  bool virtual_;
  std::int64_t virtualNow_ = 0;
  std::int64_t realStart_;
  std::uint64_t nextSeq_ = 0;
  std::vector<TimerClock*> clocks_;
  std::deque<gui::Form*> closes_;
  std::vector<const gui::Form*> shown_;
  std::vector<ErrorBox> errorBoxes_;
  std::function<void(const ErrorBox&)> hook_;
  std::vector<gui::Rect> screens_{gui::Rect{0, 0, 1920, 1080}};
  gui::Size frameExtents_;
  std::vector<std::string> opened_;

  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  bool woken_ = false;
};

}  // namespace gui::headless
