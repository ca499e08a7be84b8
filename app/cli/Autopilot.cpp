#include "app/cli/Autopilot.h"

#include <algorithm>
#include <climits>

#include "app/cli/PortName.h"
#include "app/cli/TextReport.h"
#include "serial/driver/DeviceMap.h"

namespace cli {

namespace {

const char* const kReady = "Receiver connected";

int ExitStatusOf(app::EraseResult result) {
  switch (result) {
    case app::EraseResult::Complete:
      return kExitComplete;
    case app::EraseResult::Failed:
      return kExitFailed;
    case app::EraseResult::Unverified:
      return kExitUnverified;
    case app::EraseResult::None:
      break;
  }
  return kExitPortError;
}

std::string ResultMessage(const app::EraseVerdict& v) {
  std::string text = std::string("Result: ") + app::EraseResultWord(v.result);
  if (v.result == app::EraseResult::Complete) {
    if (!v.readBackOn) return text + " (not verified: the read-back is switched off)";
    return text + " (the range read back erased: crc32 " + app::Hex8(v.crcExpected) + ")";
  }
  return text + ": " + v.reason;
}

// What an error box's text means, in this program's words, where its number alone says little.
std::string Meaning(const std::string& errorText, const std::string& device) {
  if (errorText.find("(win error code: 1167)") != std::string::npos) {
    return device + " went away (unplugged, or the server closed the connection)";
  }
  return {};
}

// Where the erase had got to, for a run that ended before its result was known.
const char* During() {
  return app::Stage == app::EraseStage::ReadingBack ? "while the erased range was read back"
                                                    : "while the erase ran";
}

}  // namespace

Autopilot::Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend,
                     const CliOptions& options, RunReport& report,
                     std::function<bool()> interrupted, PortNotes* notes)
    : form_(form),
      backend_(backend),
      options_(options),
      report_(report),
      interrupted_(std::move(interrupted)),
      notes_(notes),
      start_(Clock::now()) {}

Autopilot::Autopilot(TForm1& form, gui::headless::HeadlessBackend& backend,
                     const CliOptions& options, std::ostream& out, std::ostream& err,
                     std::function<bool()> interrupted)
    : form_(form),
      backend_(backend),
      options_(options),
      ownReport_(std::make_unique<TextReport>(out, err, options.quiet)),
      report_(*ownReport_),
      interrupted_(std::move(interrupted)),
      start_(Clock::now()) {}

Autopilot::~Autopilot() = default;

Autopilot::Wait Autopilot::WaitFor(const std::function<bool()>& reached,
                                   const std::function<bool()>& silenceCounts) {
  const auto stall = std::chrono::seconds(options_.stallSeconds);
  for (;;) {
    if (failed_) return Wait::Failed;
    if (reached()) return Wait::Reached;
    if (interrupted_()) return Wait::Interrupted;
    const auto now = Clock::now();
    auto until = Clock::time_point::max();
    // A line that waits for Box after Box gives each its time from its first word on.
    const std::optional<Clock::time_point> counted = options_.loop ? firstHeard_ : start_;
    if (options_.timeoutSeconds > 0 && counted) {
      const auto limit = *counted + std::chrono::seconds(options_.timeoutSeconds);
      if (now >= limit) return Wait::TimedOut;
      until = limit;
    }
    const bool counts = silenceCounts();
    if (options_.stallSeconds > 0 && heardAt_ && counts) {
      if (now >= *heardAt_ + stall) return Wait::Stalled;
      until = std::min(until, *heardAt_ + stall);
    }
    int waitMs = INT_MAX;
    if (until != Clock::time_point::max()) {
      waitMs = static_cast<int>(std::min<long long>(
          INT_MAX, std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
    }
    // Back here when something happened that moves a deadline: the Box spoke, or whether its
    // silence counts changed.
    const auto heard = heardAt_;
    backend_.RunUntil(
        [&] {
          return failed_ || reached() || interrupted_() || heardAt_ != heard ||
                 (options_.stallSeconds > 0 && silenceCounts() != counts);
        },
        waitMs);
  }
}

void Autopilot::WatchReceiving() {
  auto handler = form_.Cx1.OnRxChar;
  form_.Cx1.OnRxChar = [this, handler](TObject* sender, int count) {
    if (count > 0) {
      heardAt_ = Clock::now();
      lastReceived_ = heardAt_;
      if (!firstHeard_) firstHeard_ = heardAt_;
    }
    if (handler) handler(sender, count);
  };
}

int Autopilot::Finish(int status, const std::string& message) {
  message_ = message;
  report_.Finished(status, message);
  // Closing the window closes the port, as the window's close box would. ("Close COM" would
  // also set a state word, which a run that stopped early must not be given.)
  const bool wasOpen = form_.Cx1.Connected();
  form_.RequestClose();
  backend_.ProcessMessages();
  if (wasOpen && !form_.Cx1.Connected()) report_.PortClosed();
  // The report may go with this autopilot while the form stays.
  if (form_.Observer == &report_) form_.Observer = nullptr;
  return status;
}

int Autopilot::Run() {
  if (form_.Observer == nullptr) form_.Observer = &report_;
  report_.Progressed({app::RunStep::Prepared, form_.sBar.PanelText(), form_.Label1.Caption()});
  if (!options_.devicePath.empty()) drv::SetDeviceMapping("COM1", options_.devicePath);
  const std::string port = "COM" + std::to_string(options_.comIndex + 1);
  const std::string device = drv::ResolveDeviceName(port);
  if (!options_.devicePath.empty() && device != options_.devicePath) {
    // Where port names are not mapped to devices (Windows), a path cannot be honoured; there a
    // serial server's COM redirector makes its network port a COMn.
    return Finish(kExitUsage,
                  "a device path or network port cannot be used on this platform; use COM1..COM8");
  }
  if (IsConsoleLikeDevice(device) && !options_.allowTtyS) {
    const std::string resolved = drv::CanonicalDeviceName(device);
    return Finish(kExitUsage, port + " maps to " + ShownName(device) +
                                  (resolved != device ? " (" + ShownName(resolved) + ")" : "") +
                                  ", which may be the system console; not opening it "
                                  "(use --allow-ttyS if it is a real serial port)");
  }
  form_.cboCOM.UserSelect(options_.comIndex);
  WatchReceiving();
  // The port as the user gave it: a path given is mapped to COM1, which is no name of theirs.
  report_.PortChosen(options_.port, device);

  auto open = [&] {
    form_.cmdOpen.UserClick();
    backend_.ProcessMessages();
  };
  if (notes_ != nullptr) {
    notes_->Around(open);
  } else {
    open();
  }
  if (failed_ || !form_.Cx1.Connected()) {
    const std::string label =
        options_.devicePath.empty() && port != device ? port + " (" + device + ")" : device;
    return Finish(kExitPortError, "the port " + label + " did not open" +
                                      (failure_.empty() ? std::string() : ": " + failure_));
  }
  opened_ = true;

  auto fail = [&](Wait w, const char* during) -> int {
    const std::string& status = form_.sBar.PanelText();
    switch (w) {
      case Wait::Failed: {
        const std::string meaning = Meaning(failure_, device);
        return Finish(kExitPortError,
                      std::string("failed ") + during + (meaning.empty() ? "" : ": " + meaning));
      }
      case Wait::TimedOut:
        return Finish(kExitTimeout, "timed out after " + std::to_string(options_.timeoutSeconds) +
                                        " s " + during + " (status: " + status + ")");
      case Wait::Stalled:
        return Finish(kExitTimeout, "the Box has sent nothing for " +
                                        std::to_string(options_.stallSeconds) + " s " + during +
                                        " (status: " + status + ")");
      case Wait::Interrupted:
        return Finish(kExitInterrupted, std::string("interrupted ") + during);
      case Wait::Reached:
        break;
    }
    return kExitComplete;
  };

  // Waking: silence counts from the Box's first word on (before it, the Box may still be off).
  Wait w = WaitFor(
      [&] {
        return form_.sBar.PanelText() == kReady && form_.cmdErase.Enabled() &&
               form_.Cx1.Connected();
      },
      [] { return true; });
  if (w != Wait::Reached) return fail(w, "while waiting for the Box's console");

  // The command line says whether the range is read back; the settings file's key is the
  // window's.
  app::ReadBackOn = !options_.noReadback;
  if (options_.includeConfig && !form_.chkConf.Checked()) form_.chkConf.UserToggle();
  report_.EraseChosen(form_.chkConf.Checked());
  heardAt_ = Clock::now();
  form_.cmdErase.UserClick();
  backend_.ProcessMessages();

  // Erasing and reading the range back, until the result is known and the port has closed.
  // The completion wait is the tool's, not the Box's silence.
  w = WaitFor(
      [&] {
        return app::Stage == app::EraseStage::Decided && !form_.Cx1.Connected() &&
               form_.cmdOpen.Enabled();
      },
      [&] { return !form_.Timer2.Enabled(); });
  if (app::Stage == app::EraseStage::Decided) {
    // Whatever happened after the result was known (the adapter pulled, Ctrl-C in the
    // completion wait) does not change what the Box's flash holds.
    std::string message = ResultMessage(app::Verdict);
    if (w == Wait::Failed) {
      const std::string meaning = Meaning(failure_, device);
      message += " (then the port failed: " +
                 (!meaning.empty()   ? meaning
                  : failure_.empty() ? "see above"
                                     : failure_) +
                 ")";
    } else if (w == Wait::Interrupted) {
      message += " (interrupted before the port closed)";
    } else if (w != Wait::Reached) {
      message += " (the port did not close in time)";
    }
    return Finish(ExitStatusOf(app::Verdict.result), message);
  }
  return fail(w, During());
}

}  // namespace cli
