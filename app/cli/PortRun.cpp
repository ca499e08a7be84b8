#include "app/cli/PortRun.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "app/Unit1.h"
#include "app/cli/Autopilot.h"
#include "app/cli/BoxRecorder.h"
#include "app/cli/RecordFile.h"
#include "runtime/MainThread.h"
#include "serial/ComErrors.h"
#include "serial/driver/DeviceMap.h"

namespace cli {

namespace {

// The window has one observer; the report and the record both listen.
class BothObservers : public app::RunObserver {
 public:
  BothObservers(app::RunObserver& a, app::RunObserver& b) : a_(a), b_(b) {}
  void Progressed(const app::RunProgress& p) override {
    a_.Progressed(p);
    b_.Progressed(p);
  }
  void Received(std::string_view text) override {
    a_.Received(text);
    b_.Received(text);
  }
  void Sent(std::string_view bytes) override {
    a_.Sent(bytes);
    b_.Sent(bytes);
  }
  void Checked(const app::EraseVerdict& verdict) override {
    a_.Checked(verdict);
    b_.Checked(verdict);
  }

 private:
  app::RunObserver& a_;
  app::RunObserver& b_;
};

// The error box shows only a text; while it is shown the exception is still being handled, and
// the serial component's carries its codes.
BoxError ErrorOf(const std::string& text) {
  BoxError error{text, std::nullopt, std::nullopt};
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const EComPort& e) {
      error.code = e.ErrorCode();
      if (e.SystemErrorCode() != -1) error.systemCode = e.SystemErrorCode();
    } catch (...) {
    }
  }
  return error;
}

}  // namespace

PortRun::PortRun(gui::headless::HeadlessBackend& backend, const CliOptions& options,
                 RunReport& report, std::function<bool()> interrupted)
    : backend_(backend), options_(options), report_(report), interrupted_(std::move(interrupted)) {}

int PortRun::Run() {
  Autopilot* pilot = nullptr;
  BoxRecorder* recorder = nullptr;
  backend_.SetErrorBoxHook([&](const gui::headless::HeadlessBackend::ErrorBox& box) {
    report_.ErrorBox(box.caption, box.text);
    if (recorder) recorder->NoteError(ErrorOf(box.text));
    if (pilot) pilot->NoteFailure(box.text);
  });
  // A watcher that ended (the device went away) is shown in the error box, as in the window.
  rt::SetBackgroundErrorHandler(
      [](std::exception_ptr error) { gui::App().HandleException(error); });

  const std::string host = options_.recordPath.empty() ? std::string() : HostName();
  int worst = kExitComplete;
  int done = 0;
  int failed = 0;
  int unverified = 0;
  for (;;) {
    // Each Box meets the window as a fresh start of the program would show it.
    app::ResetModuleState();
    backend_.ClearErrorBoxes();
    int status = kExitPortError;
    bool opened = false;
    bool boxSpoke = false;
    std::string message;
    {
      TForm1 form;
      backend_.CreatePeers(form);
      backend_.Show(form);
      if (!options_.devicePath.empty()) drv::SetDeviceMapping("COM1", options_.devicePath);
      const std::string device =
          drv::ResolveDeviceName("COM" + std::to_string(options_.comIndex + 1));
      BoxRecorder box(host, options_.port, device, options_.includeConfig, !options_.noReadback);
      recorder = &box;
      BothObservers observers(report_, box);
      form.Observer = &observers;
      if (backend_.ErrorBoxes().empty()) {
        Autopilot autopilot(form, backend_, options_, report_, interrupted_);
        pilot = &autopilot;
        status = autopilot.Run();
        opened = autopilot.Opened();
        message = autopilot.Message();
        pilot = nullptr;
      } else {
        // The window could not be made (its error box has been reported).
        report_.Finished(status, std::string());
      }
      form.Observer = nullptr;
      recorder = nullptr;
      boxSpoke = box.BoxSpoke();
      // Waiting for the next Box is not a Box: a line interrupted then leaves no record.
      if (!options_.loop || boxSpoke) {
        (status == kExitComplete ? done : status == kExitUnverified ? unverified : failed) += 1;
        if (!options_.recordPath.empty()) {
          std::string error;
          if (!AppendRecordLine(options_.recordPath, EncodeRecord(box.Finish(status, message)),
                                error)) {
            report_.Problem(error);
            status = std::max(status, static_cast<int>(kExitPortError));
          }
        }
        report_.Counted(done, failed, unverified);
      }
    }
    worst = std::max(worst, status);
    // A Box whose result was known when Ctrl-C came keeps its result, and the line stops.
    if (!options_.loop || status == kExitInterrupted || status == kExitUsage || !opened ||
        interrupted_()) {
      break;
    }
  }
  report_.Ended(worst, done, failed, unverified);
  rt::SetBackgroundErrorHandler(nullptr);
  backend_.SetErrorBoxHook(nullptr);
  return worst;
}

}  // namespace cli
