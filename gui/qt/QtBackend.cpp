#include "gui/qt/QtBackend.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QUrl>

#include "gui/qt/QtLook.h"
#include "gui/qt/QtPeers.h"
#include "runtime/MainThread.h"

namespace gui::qt {

QtBackend::QtBackend() {
  // The application object lives in the main thread and outlives every backend, so a queued
  // call on it is safe from any thread at any time.
  rt::SetMainThreadWakeup([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          app, [] { rt::ServeHandOver(); }, Qt::QueuedConnection);
    }
  });
}

QtBackend::~QtBackend() {
  rt::SetMainThreadWakeup(nullptr);
  if (gui::App().GetBackend() == this) gui::App().SetBackend(nullptr);
}

QWidget* QtBackend::WidgetOf(const gui::Control& control) {
  auto* peer = dynamic_cast<WidgetPeer*>(control.GetPeer());
  return peer ? peer->Widget() : nullptr;
}

QWidget* QtBackend::WindowOf(const gui::Form& form) {
  auto* peer = dynamic_cast<WidgetPeer*>(form.GetPeer());
  return peer ? peer->Widget() : nullptr;
}

void QtBackend::CreatePeers(gui::Form& form) {
  auto formPeer = std::make_unique<FormPeer>(*this, form);
  QWidget* window = formPeer->Widget();
  window->setObjectName(ToQString(form.Name()));
  form.AttachPeer(std::move(formPeer));
  for (const auto& c : form.Controls()) {
    if (auto peer = MakeControlPeer(*c, window)) c->AttachPeer(std::move(peer));
  }
  ApplyTabOrder(form);
  for (const auto& t : form.Timers()) t->AttachPeer(std::make_unique<TimerPeer>(form, *t));
  if (!mainForm_) mainForm_ = &form;
}

void QtBackend::Show(gui::Form& form) {
  if (form.Closed()) return;
  if (QWidget* w = WindowOf(form)) {
    w->show();
    // Some window managers place a window themselves; the form's position wins.
    w->move(form.Left(), form.Top());
  }
}

void QtBackend::Run(gui::Form& form) {
  if (form.Closed()) return;
  Show(form);
  QEventLoop loop;
  QEventLoop* outerLoop = runLoop_;
  gui::Form* outerForm = runForm_;
  runLoop_ = &loop;
  runForm_ = &form;
  // Calls handed over before the loop existed would otherwise wait for the next wake-up.
  QMetaObject::invokeMethod(
      &loop, [] { rt::ServeHandOver(); }, Qt::QueuedConnection);
  if (!form.Closed()) loop.exec();
  runLoop_ = outerLoop;
  runForm_ = outerForm;
}

void QtBackend::FormClosed(gui::Form& form) {
  if (&form == runForm_ && runLoop_) runLoop_->quit();
  if (&form == mainForm_) mainForm_ = nullptr;
}

void QtBackend::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  rt::ServeHandOver();
}

void QtBackend::ShowErrorBox(const std::string& caption, const std::string& text) {
  if (errorBoxHook_) {
    errorBoxHook_(caption, text);
    return;
  }
  QWidget* owner = mainForm_ ? WindowOf(*mainForm_) : nullptr;
  if (owner && !owner->isVisible()) owner = nullptr;
  QMessageBox::critical(owner, ToQString(caption), ToQString(text), QMessageBox::Ok);
}

void QtBackend::OpenDocument(const std::string& address) {
  if (openHook_) {
    openHook_(address);
    return;
  }
  QDesktopServices::openUrl(QUrl::fromUserInput(ToQString(address)));
}

std::vector<gui::Rect> QtBackend::Screens() {
  std::vector<gui::Rect> result;
  const QScreen* primary = QGuiApplication::primaryScreen();
  auto add = [&result](const QScreen* s) {
    const QRect r = s->availableGeometry();
    result.push_back(gui::Rect{r.x(), r.y(), r.width(), r.height()});
  };
  if (primary) add(primary);
  for (const QScreen* s : QGuiApplication::screens()) {
    if (s != primary) add(s);
  }
  return result;
}

gui::Size QtBackend::OuterSize(const gui::Form& form) {
  if (const QWidget* w = WindowOf(form); w && w->isVisible()) {
    const QRect frame = w->frameGeometry();
    return {frame.width(), frame.height()};
  }
  // Until the window is shown, the window manager has not said how wide its frame is; the
  // style's caption and border are the nearest guess.
  const QStyle* style = QApplication::style();
  const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
  const int caption = style->pixelMetric(QStyle::PM_TitleBarHeight);
  return {form.ClientWidth() + 2 * border, form.ClientHeight() + caption + 2 * border};
}

void QtBackend::PostClose(gui::Form& form) {
  QWidget* w = WindowOf(form);
  if (!w) {
    form.RequestClose();
    return;
  }
  // As the close box would: through the window's close event, from the loop. The window dies
  // with the form, so a form gone by then is never touched.
  QPointer<QWidget> window(w);
  gui::Form* target = &form;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [window, target] {
        if (!window) return;
        if (window->isVisible()) {
          window->close();
        } else {
          target->RequestClose();
        }
      },
      Qt::QueuedConnection);
}

}  // namespace gui::qt
