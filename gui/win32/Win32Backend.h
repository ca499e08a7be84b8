// The native Win32 backend: one window class for the forms, child controls of the system's
// classes (common controls 6 through the program's manifest), SetTimer ticks, MessageBoxA for
// the error box, and a message loop that also runs the calls other threads hand over.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "gui/Forms.h"

namespace gui::win32 {

class Win32Backend : public gui::Backend {
 public:
  Win32Backend();  // on the main thread; registers the WM_NULL wake-up
  ~Win32Backend() override;
  Win32Backend(const Win32Backend&) = delete;
  Win32Backend& operator=(const Win32Backend&) = delete;

  // The native windows, for tests; nullptr before CreatePeers.
  static HWND WindowOf(const gui::Form& form);
  static HWND HandleOf(const gui::Control& control);

  void CreatePeers(gui::Form& form) override;
  void Show(gui::Form& form) override;
  void Run(gui::Form& form) override;
  void ProcessMessages() override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  void OpenDocument(const std::string& address) override;
  std::vector<gui::Rect> Screens() override;
  gui::Size OuterSize(const gui::Form& form) override;
  void PostClose(gui::Form& form) override;

  // Shared GDI objects, made once and released with the backend.
  HFONT FontFor(const gui::Font& font);
  HBRUSH BrushFor(gui::Color colour);

 private:
  // One message: the dialog keys (Tab between controls) first, then the window procedure.
  void Dispatch(MSG& msg);
  HWND wakeWindow_ = nullptr;
  gui::Form* mainForm_ = nullptr;
  std::map<std::tuple<std::string, int, int>, HFONT> fonts_;
  std::map<unsigned, HBRUSH> brushes_;
};

}  // namespace gui::win32
