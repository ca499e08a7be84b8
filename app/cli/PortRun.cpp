#include "app/cli/PortRun.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <vector>

#include "app/Unit1.h"
#include "app/cli/Autopilot.h"
#include "app/cli/BoxRecorder.h"
#include "app/cli/NextBoxGate.h"
#include "app/cli/PortNotes.h"
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
  PortNotes notes;
  NextBoxGate gate(backend_, options_, report_, notes, interrupted_);
  backend_.SetErrorBoxHook([&](const gui::headless::HeadlessBackend::ErrorBox& box) {
    if (gate.Active()) {
      // The port the gate holds failed: its device went away, which the gate waits out.
      gate.NoteFailure();
      return;
    }
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
  // With --loop: whether the port has opened once (a port that never did ends; one whose device
  // went away later is waited for), and what the next Box waits for.
  bool openedOnce = false;
  bool afterBox = false;
  bool gated = false;
  std::optional<std::chrono::steady_clock::time_point> lastHeard;
  for (;;) {
    // Each Box meets the window as a fresh start of the program would show it.
    app::ResetModuleState();
    backend_.ClearErrorBoxes();
    int status = kExitPortError;
    bool opened = false;
    bool boxSpoke = false;
    bool interruptedBetweenBoxes = false;
    std::string message;
    {
      TForm1 form;
      backend_.CreatePeers(form);
      backend_.Show(form);
      if (!options_.devicePath.empty()) drv::SetDeviceMapping("COM1", options_.devicePath);
      const std::string device =
          drv::ResolveDeviceName("COM" + std::to_string(options_.comIndex + 1));
      // Known once the window has read the settings file's [PORTS].
      notes.SetDevice(device);
      if (gated && backend_.ErrorBoxes().empty()) {
        interruptedBetweenBoxes = !gate.Wait(form, device, afterBox, lastHeard);
        backend_.ClearErrorBoxes();
      }
      BoxRecorder box(host, options_.port, device, options_.includeConfig, !options_.noReadback);
      recorder = &box;
      BothObservers observers(report_, box);
      form.Observer = &observers;
      if (interruptedBetweenBoxes) {
        // No Box came: nothing to record.
        status = kExitInterrupted;
      } else if (backend_.ErrorBoxes().empty()) {
        Autopilot autopilot(form, backend_, options_, report_, interrupted_, &notes);
        pilot = &autopilot;
        status = autopilot.Run();
        opened = autopilot.Opened();
        message = autopilot.Message();
        lastHeard = autopilot.LastReceived();
        pilot = nullptr;
      } else {
        // The window could not be made (its error box has been reported).
        report_.Finished(status, std::string());
      }
      form.Observer = nullptr;
      recorder = nullptr;
      boxSpoke = box.BoxSpoke();
      // Waiting for the next Box is not a Box: a line interrupted then, or a port whose device
      // is gone, leaves no record. A port that never opened at all is a failed one.
      const bool isBox =
          !interruptedBetweenBoxes && (!options_.loop || boxSpoke || (!opened && !openedOnce));
      if (isBox) {
        if (!options_.recordPath.empty()) {
          const std::string line = EncodeRecord(box.Finish(status, message));
          std::string error;
          const bool kept =
              options_.recordFd >= 0
                  ? AppendRecordLine(options_.recordFd, options_.recordPath, line, error)
                  : AppendRecordLine(options_.recordPath, line, error);
          if (!kept) {
            // A Box without its record is no Box done: said at once, and counted failed.
            report_.Finished(kExitRecordFailed, std::string("its record (") + ResultName(status) +
                                                    ") was not written: " + error);
            status = std::max(status, static_cast<int>(kExitRecordFailed));
          }
        }
        (status == kExitComplete ? done : status == kExitUnverified ? unverified : failed) += 1;
        report_.Counted(done, failed, unverified);
      }
    }
    worst = std::max(worst, status);
    openedOnce |= opened;
    // A Box whose result was known when Ctrl-C came keeps its result, and the line stops.
    if (!options_.loop || interruptedBetweenBoxes || status == kExitInterrupted ||
        status == kExitUsage || !openedOnce || interrupted_()) {
      // Box after Box ends only when interrupted (or when the port is gone for good).
      if (options_.loop && interrupted_()) {
        worst = std::max(worst, static_cast<int>(kExitInterrupted));
      }
      break;
    }
    gated = true;
    afterBox = opened;
  }
  report_.Ended(worst, done, failed, unverified);
  rt::SetBackgroundErrorHandler(nullptr);
  backend_.SetErrorBoxHook(nullptr);
  return worst;
}

}  // namespace cli
