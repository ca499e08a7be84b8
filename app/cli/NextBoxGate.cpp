#include "app/cli/NextBoxGate.h"

#include <algorithm>
#include <vector>

#include "app/ModuleState.h"

namespace cli {

NextBoxGate::NextBoxGate(gui::headless::HeadlessBackend& backend, const CliOptions& options,
                         RunReport& report, PortNotes& notes, std::function<bool()> interrupted)
    : backend_(backend),
      options_(options),
      report_(report),
      notes_(notes),
      interrupted_(std::move(interrupted)) {}

void NextBoxGate::Say(const std::string& status) {
  report_.Progressed({app::RunStep::Prepared, status, "PREPARED"});
}

bool NextBoxGate::TryOpen(TForm1& form) {
  failed_ = false;
  // The line settings "Open COM" gives the port.
  form.Cx1.SetPort(app::PortChoiceTable[static_cast<std::size_t>(options_.comIndex)]);
  form.Cx1.SetDataBits(dbEight);
  form.Cx1.SetBaudRate(br115200);
  form.Cx1.Parity().SetBits(prNone);
  notes_.Around([&] {
    try {
      form.Cx1.Open();
    } catch (...) {
      // Not there (yet): looked for again.
    }
  });
  backend_.ProcessMessages();
  if (form.Cx1.Connected() && !failed_) return true;
  Close(form);
  return false;
}

void NextBoxGate::Close(TForm1& form) {
  try {
    if (form.Cx1.Connected()) form.Cx1.Close();
  } catch (...) {
    // A device that went away may not close cleanly; it is closed all the same.
  }
  backend_.ProcessMessages();
}

void NextBoxGate::Drain(TForm1& form, int count) {
  std::vector<char> buffer(static_cast<std::size_t>(std::clamp(count, 1, 4096)));
  try {
    for (int left = count; left > 0;) {
      const int n = form.Cx1.Read(buffer.data(), std::min(left, static_cast<int>(buffer.size())));
      if (n <= 0) break;
      left -= n;
    }
  } catch (...) {
    failed_ = true;
  }
  ++heard_;
  heardAt_ = Clock::now();
}

bool NextBoxGate::Wait(TForm1& form, const std::string& device, bool afterBox,
                       std::optional<Clock::time_point> lastHeard) {
  active_ = true;
  const TRxCharEvent handler = form.Cx1.OnRxChar;
  form.Cx1.OnRxChar = [this, &form](TObject*, int count) { Drain(form, count); };
  bool waitingForDevice = false;
  bool talked = false;
  bool ready = false;
  const unsigned heardBefore = heard_;
  while (!interrupted_()) {
    if (!TryOpen(form)) {
      if (!waitingForDevice) Say("Waiting for " + device + " to come back");
      waitingForDevice = true;
      // A look a second: an interrupt ends the wait at once.
      backend_.RunUntil(interrupted_, 1000);
      continue;
    }
    if (waitingForDevice || !afterBox) {
      ready = true;
      break;
    }
    // Heard since the Box's run, or not heard since it: it was already quiet that long.
    heardAt_ = heard_ > heardBefore || !lastHeard ? Clock::now() : *lastHeard;
    while (!interrupted_() && !failed_) {
      const auto quietAt = heardAt_ + std::chrono::seconds(kQuietSeconds);
      const auto now = Clock::now();
      if (now >= quietAt) {
        ready = true;
        break;
      }
      const unsigned heard = heard_;
      backend_.RunUntil(
          [&] { return interrupted_() || failed_ || heard_ != heard; },
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(quietAt - now).count()));
      if (heard_ != heard && !talked) {
        talked = true;
        Say("The last Box still talks: switch it off for the next one");
      }
    }
    if (ready) break;
    // The device went away while it was listened to: it is waited for.
    Close(form);
  }
  // A port that is ready stays open for the next Box: "Open COM" on an open port with these
  // settings changes nothing, and a serial server is not asked to take a new connection a
  // moment after the last one went (which it may refuse while it still tidies that one up).
  if (!ready) Close(form);
  form.Cx1.OnRxChar = handler;
  active_ = false;
  return ready;
}

}  // namespace cli
