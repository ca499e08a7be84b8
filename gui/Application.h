// The application object with its backend (Qt, Win32 or headless), and the one dispatch that
// every handler runs through: an exception that escapes a handler is shown in the default
// error box and the program continues.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "gui/Form.h"

namespace gui {

// What each backend provides.
class Backend {
 public:
  virtual ~Backend() = default;
  // Builds the native window and widgets for a form whose layout is loaded (attaches peers to
  // the form, its controls and its timers).
  virtual void CreatePeers(Form& form) = 0;
  virtual void Show(Form& form) = 0;
  // Runs the loop until the form has closed.
  virtual void Run(Form& form) = 0;
  // Handles every pending message, timer tick, handed-over call and queued close, then returns.
  virtual void ProcessMessages() = 0;
  // Modal error box: error icon, one OK button, caption. Returns when dismissed.
  virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;
  // Opens an address with the system's default handler; failures are ignored.
  virtual void OpenDocument(const std::string& address) = 0;
  // Work areas of the screens, primary first.
  virtual std::vector<Rect> Screens() = 0;
  // The form's window with its frame (caption, borders): what has to fit on a screen.
  virtual Size OuterSize(const Form& form) = 0;
  // Closes a form from the loop, as a click on its close box would.
  virtual void PostClose(Form& form) = 0;
};

class Application {
 public:
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  void SetBackend(Backend* backend);
  Backend* GetBackend() const { return backend_; }
  void ProcessMessages();
  // The default exception handler: shows the message in the error box.
  void ShowException(const std::exception& e);
  void HandleException();  // inside a catch block
  // The same for a failure handed over from elsewhere: what Run registers for failures that
  // end background work (rt::ReportBackgroundError), and what a loop of its own registers.
  void HandleException(std::exception_ptr error);
  void Run(Form& mainForm);

 private:
  std::string title_ = "Zanowipe";
  Backend* backend_ = nullptr;
};

Application& App();

// Runs a handler; an exception that escapes it goes to the application's error box. Returns
// whether the handler completed without raising.
bool Dispatch(const std::function<void()>& handler);

// The text the error box shows for a message: a full stop is appended when the last character
// sorts after '.'.
std::string ErrorBoxText(const std::string& message);

}  // namespace gui
