// The application object, the one dispatch every handler runs through, and the default
// exception handler's error box.
#include "gui/Application.h"

#include <cstdio>

#include "runtime/MainThread.h"

namespace gui {

void Application::SetBackend(Backend* backend) {
  backend_ = backend;
}

void Application::ProcessMessages() {
  if (backend_) {
    backend_->ProcessMessages();
    return;
  }
  rt::ServeHandOver();
}

void Application::ShowException(const std::exception& e) {
  const auto* own = dynamic_cast<const Exception*>(&e);
  const std::string text = ErrorBoxText(own ? own->Message() : std::string(e.what()));
  if (backend_) {
    backend_->ShowErrorBox(title_, text);
  } else {
    std::fprintf(stderr, "%s: %s\n", title_.c_str(), text.c_str());
  }
}

void Application::HandleException() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(Exception("Unknown exception"));
  }
}

void Application::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (...) {
    HandleException();
  }
}

void Application::Run(Form& mainForm) {
  if (!backend_) return;
  // Background work that ended on a failure (a port watcher whose device went away, or whose
  // handler raised) is reported in the same error box as a failed click. The report arrives as
  // a posted call, so it never interrupts the dispatch that failed.
  rt::SetBackgroundErrorHandler([this](std::exception_ptr error) { HandleException(error); });
  backend_->Show(mainForm);
  backend_->Run(mainForm);
  rt::SetBackgroundErrorHandler(nullptr);
}

Application& App() {
  static Application app;
  return app;
}

bool Dispatch(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    App().HandleException();
    return false;
  }
}

std::string ErrorBoxText(const std::string& message) {
  if (message.empty()) return message;
  // Compared as unsigned bytes: accented letters sort after '.' as well.
  const auto last = static_cast<unsigned char>(message.back());
  if (last > static_cast<unsigned char>('.')) return message + ".";
  return message;
}

}  // namespace gui
