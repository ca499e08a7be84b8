// The Qt side of each model: a widget that shows the model's state after each change and
// turns the user's input into the model's User* calls.
#pragma once

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "gui/Forms.h"

namespace gui::qt {

class QtBackend;

// What every Qt peer offers the backend: its widget.
class WidgetPeer : public gui::Peer {
 public:
  virtual QWidget* Widget() const = 0;
};

// The main window: closing it asks the form, moving it updates the form's position.
class FormWindow : public QWidget {
 public:
  explicit FormWindow(gui::Form& form) : form_(form) {}
  bool syncing = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  gui::Form& form_;
};

class FormPeer : public WidgetPeer {
 public:
  FormPeer(QtBackend& backend, gui::Form& form);
  ~FormPeer() override;
  void Sync() override;
  QWidget* Widget() const override { return window_; }

 private:
  QtBackend& backend_;
  gui::Form& form_;
  QPointer<FormWindow> window_;
  bool closedSeen_ = false;
};

// A label that reports clicks; QLabel itself ignores the mouse.
class ClickLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

// Builds the widget peer for one control, as a child of parent.
std::unique_ptr<WidgetPeer> MakeControlPeer(gui::Control& control, QWidget* parent);

class TimerPeer : public gui::TimerPeer {
 public:
  TimerPeer(gui::Form& form, gui::Timer& timer);
  void Start(int intervalMs) override;
  void Stop() override;

 private:
  QTimer qtimer_;
};

// Orders the form's tab stops as the models say; controls without one take no focus.
void ApplyTabOrder(const gui::Form& form);

}  // namespace gui::qt
