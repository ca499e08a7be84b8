#include "tests/faults/WindowRun.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "app/ModuleState.h"
#include "runtime/MainThread.h"
#include "serial/driver/DeviceMap.h"

namespace faults {

WindowRun::WindowRun(const std::string& cwd) : backend_(false) {
  rt::MarkMainThread();
  app::ResetModuleState();
  drv::ClearDeviceMappings();
  if (cwd.empty()) {
    scratch_ = std::make_unique<ScratchDir>();
    dir_ = scratch_->Path();
  } else {
    dir_ = cwd;
  }
  previousDir_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_);
  gui::App().SetTitle("Zanowipe");
  gui::App().SetBackend(&backend_);
  backend_.SetErrorBoxHook([](const auto&) {});
  // As the window's run loop does: a failure that ended background work (the port's watcher)
  // is shown in the error box. It is also kept apart, so tests can tell it from a failed click.
  rt::SetBackgroundErrorHandler([this](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      background_.push_back(e.what());
      gui::App().HandleException();
    } catch (...) {
      background_.push_back("unknown");
      gui::App().HandleException();
    }
  });
  form_ = std::make_unique<TForm1>();
  backend_.CreatePeers(*form_);
  backend_.Show(*form_);
}

WindowRun::~WindowRun() {
  if (!form_->Closed()) CloseWindow();
  form_.reset();
  backend_.ProcessMessages();
  rt::SetBackgroundErrorHandler(nullptr);
  gui::App().SetBackend(nullptr);
  std::filesystem::current_path(previousDir_);
  drv::ClearDeviceMappings();
  app::ResetModuleState();
}

void WindowRun::UseDevice(const std::string& path) {
  drv::SetDeviceMapping("COM1", path);
  form_->cboCOM.SetItemIndex(0);
}

void WindowRun::ClickOpen() {
  form_->cmdOpen.UserClick();
  backend_.ProcessMessages();
}

void WindowRun::ClickErase() {
  form_->cmdErase.UserClick();
  backend_.ProcessMessages();
}

void WindowRun::ClickClose() {
  form_->cmdClose.UserClick();
  backend_.ProcessMessages();
}

void WindowRun::CloseWindow() {
  form_->Close();
  Pump([this] { return form_->Closed(); }, std::chrono::seconds(20));
}

bool WindowRun::Pump(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (backend_.RunUntil(pred, 20)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return pred();
  }
}

void WindowRun::Idle(std::chrono::milliseconds span) {
  Pump([] { return false; }, span);
}

std::vector<std::string> WindowRun::ErrorTexts() const {
  std::vector<std::string> texts;
  for (const auto& box : backend_.ErrorBoxes()) texts.push_back(box.text);
  return texts;
}

bool WindowRun::BootToReady(PtyDevice& box) {
  if (box.Send(kBootText) == 0) return false;
  // The first wake-up line feed comes 700 ms after the first data.
  if (!Pump([&] { return box.Received().find('\n') != std::string::npos; })) return false;
  box.Send(kPrompt);
  return Pump([&] { return Status() == "Receiver connected"; });
}

}  // namespace faults
