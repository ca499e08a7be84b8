// The Win32 side of each model: a window that shows the model's state after each change, and
// the notifications that turn the user's input into the model's User* calls.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "gui/Forms.h"

namespace gui::win32 {

class Win32Backend;

class Win32Peer : public gui::Peer {
 public:
  virtual HWND Handle() const = 0;
};

// A child control. Its window carries a property that leads back to the peer, so the form's
// window procedure can route notifications and colour requests.
class ControlPeer : public Win32Peer {
 public:
  ControlPeer(Win32Backend& backend, gui::Control& model) : backend_(backend), model_(model) {}
  ~ControlPeer() override;
  HWND Handle() const override { return hwnd_; }
  gui::Control& Model() const { return model_; }
  void Sync() override;
  // A WM_COMMAND notification from the control.
  virtual void Command(int /*code*/) {}
  // WM_CTLCOLORSTATIC: the brush to paint with, after setting the DC's colours.
  virtual HBRUSH Colours(HDC dc);

  static ControlPeer* From(HWND hwnd);

 protected:
  void Attach(HWND hwnd);
  virtual void SyncOwn() {}
  virtual int WindowHeight() const { return model_.Bounds().Height; }
  Win32Backend& backend_;
  gui::Control& model_;
  HWND hwnd_ = nullptr;
  bool syncing_ = false;
};

class FormPeer : public Win32Peer {
 public:
  FormPeer(Win32Backend& backend, gui::Form& form);
  ~FormPeer() override;
  HWND Handle() const override { return hwnd_; }
  void Sync() override;
  gui::Form& Model() const { return form_; }

  void AddTimer(UINT_PTR id, gui::Timer* timer) { timers_[id] = timer; }
  void RemoveTimer(UINT_PTR id) { timers_.erase(id); }
  UINT_PTR NextTimerId() { return nextTimerId_++; }

  static FormPeer* From(HWND hwnd);
  static const char* ClassName();
  // The window's size, frame included, for the form's client size.
  static SIZE OuterSizeFor(const gui::Form& form);

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

  Win32Backend& backend_;
  gui::Form& form_;
  HWND hwnd_ = nullptr;
  bool syncing_ = false;
  bool closedSeen_ = false;
  std::map<UINT_PTR, gui::Timer*> timers_;
  UINT_PTR nextTimerId_ = 1;
};

std::unique_ptr<ControlPeer> MakeControlPeer(Win32Backend& backend, gui::Control& control,
                                             HWND parent, int id);

class TimerPeer : public gui::TimerPeer {
 public:
  TimerPeer(FormPeer& form, gui::Timer& timer);
  ~TimerPeer() override;
  void Start(int intervalMs) override;
  void Stop() override;

 private:
  FormPeer& form_;
  UINT_PTR id_;
};

// Orders the form's tab stops (the child windows' Z order) as the models say.
void ApplyTabOrder(const gui::Form& form);

}  // namespace gui::win32
