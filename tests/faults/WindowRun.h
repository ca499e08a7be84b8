// The real stack in this process: the main window's handlers on the headless loop with the
// real clock, its port on the termios engine, the device a pty that the test plays. Runs in a
// scratch directory that becomes the current one (the settings file lives there).
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "gui/headless/HeadlessBackend.h"
#include "tests/faults/PtyDevice.h"
#include "tests/support/ScratchDir.h"

namespace faults {

using ScratchDir = testsupport::ScratchDir;

class WindowRun {
 public:
  // cwd: the directory current while the window lives (a scratch one when empty).
  explicit WindowRun(const std::string& cwd = "");
  ~WindowRun();

  TForm1& Form() { return *form_; }
  gui::headless::HeadlessBackend& Backend() { return backend_; }
  const std::string& Dir() const { return dir_; }

  // "COM1" opens this device; the list's first entry is chosen.
  void UseDevice(const std::string& path);
  void ClickOpen();
  void ClickErase();
  void ClickClose();
  void CloseWindow();

  // Runs the loop until pred holds or limit passes (real time); returns pred().
  bool Pump(const std::function<bool()>& pred,
            std::chrono::milliseconds limit = std::chrono::seconds(20));
  void Idle(std::chrono::milliseconds span);

  std::string Status() const { return form_->sBar.PanelText(); }
  std::string StateWord() const { return form_->Label1.Caption(); }
  std::vector<std::string> ErrorTexts() const;
  // Failures that ended background work (the event watcher), as reported to the main thread
  // (and shown in the error box, as the window shows them).
  const std::vector<std::string>& BackgroundErrors() const { return background_; }

  // Plays a Box through boot and wake-up until the window offers the erase.
  bool BootToReady(PtyDevice& box);

 private:
  std::unique_ptr<ScratchDir> scratch_;
  std::string dir_;
  std::string previousDir_;
  gui::headless::HeadlessBackend backend_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> background_;
};

inline constexpr const char* kPrompt = "simbox> ";
inline constexpr const char* kBootText =
    "Box boot loader 1.2\nDRAM: 64 MiB\nFlash: 16 MiB\nHit any key to stop autoboot: 3\n";

}  // namespace faults
