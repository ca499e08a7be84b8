// The timer model. It does not tick again while its previous tick, error box included, is
// still being handled. Enabling a running timer does not restart it; enabling a stopped one
// starts a full period.
#pragma once

#include <memory>
#include <string>

#include "gui/Types.h"

namespace gui {

// A backend's side of a timer.
class TimerPeer {
 public:
  virtual ~TimerPeer() = default;
  virtual void Start(int intervalMs) = 0;  // a full new period from now
  virtual void Stop() = 0;
};

class Timer : public TObject {
 public:
  explicit Timer(std::string name) : name_(std::move(name)) {}
  ~Timer() override;
  const char* ClassName() const override { return "TTimer"; }
  const std::string& Name() const { return name_; }
  int Interval() const { return interval_; }
  void SetInterval(int value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);  // enabling a running timer does not restart its period
  TNotifyEvent OnTimer;
  // What a backend calls at the end of each period. Skipped while the previous tick runs.
  void Tick();
  void AttachPeer(std::unique_ptr<TimerPeer> peer);

 private:
  void Update();
  std::string name_;
  int interval_ = 1000;
  bool enabled_ = false;
  bool ticking_ = false;
  std::unique_ptr<TimerPeer> peer_;
};

}  // namespace gui
