// The Qt 6 Widgets backend: one QWidget per control, a QTimer per model timer, QMessageBox for
// the error box. Needs a QApplication that lives longer than the backend.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gui/Forms.h"

class QEventLoop;
class QWidget;

namespace gui::qt {

class QtBackend : public gui::Backend {
 public:
  QtBackend();  // registers the main thread's wake-up: a queued call on the application
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  // Tests: the box is handed to the hook instead of being shown (and waited on).
  using ErrorBoxHook = std::function<void(const std::string& caption, const std::string& text)>;
  void SetErrorBoxHook(ErrorBoxHook hook) { errorBoxHook_ = std::move(hook); }
  // Tests: addresses go to the hook instead of the desktop's browser.
  void SetOpenDocumentHook(std::function<void(const std::string&)> hook) {
    openHook_ = std::move(hook);
  }

  // The native widgets, for tests and screenshots; nullptr before CreatePeers.
  static QWidget* WidgetOf(const gui::Control& control);
  static QWidget* WindowOf(const gui::Form& form);

  void CreatePeers(gui::Form& form) override;
  void Show(gui::Form& form) override;
  void Run(gui::Form& form) override;
  void ProcessMessages() override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  void OpenDocument(const std::string& address) override;
  std::vector<gui::Rect> Screens() override;
  gui::Size OuterSize(const gui::Form& form) override;
  void PostClose(gui::Form& form) override;

  // From a form's peer once its window has closed.
  void FormClosed(gui::Form& form);

 private:
  ErrorBoxHook errorBoxHook_;
  std::function<void(const std::string&)> openHook_;
  gui::Form* mainForm_ = nullptr;
  QEventLoop* runLoop_ = nullptr;
  gui::Form* runForm_ = nullptr;
};

}  // namespace gui::qt
