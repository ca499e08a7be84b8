// zanowipe-cli: the window's logic without a window, for automation and production lines.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/SettingsFile.h"
#include "app/Unit1.h"
#include "app/cli/Autopilot.h"
#include "app/cli/CliOptions.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/StatusPeer.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"

namespace {

bool Confirm(const std::string& port) {
  std::cout << "Erase user data on the Box at " << port << "? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

}  // namespace

int main(int argc, char** argv) {
  cli::CliParse parsed = cli::ParseCliOptions(argc, argv);
  if (!parsed.options) {
    (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message;
    return parsed.exitCode;
  }
  const cli::CliOptions& options = *parsed.options;
  if (!options.yes && !Confirm(options.port)) {
    std::cerr << "zanowipe-cli: not confirmed; nothing done" << std::endl;
    return cli::kExitDeclined;
  }
  // The settings file belongs to the window: its place and port choice are not this run's to
  // keep, and the headless screen would move a stored place. [PORTS] is only read.
  app::SetSettingsWritable(false);

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  // A posted call that does nothing wakes the loop, which then sees the flag.
  cli::InterruptWatch interrupt([] { rt::Post([] {}); });
  cli::Autopilot* pilot = nullptr;
  backend.SetErrorBoxHook([&](const gui::headless::HeadlessBackend::ErrorBox& box) {
    std::cerr << "zanowipe-cli: error box [" << box.caption << "]: " << box.text << std::endl;
    if (pilot) pilot->NoteFailure();
  });
  // A watcher that ended (the device went away) is shown in the error box, as in the window.
  rt::SetBackgroundErrorHandler([](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      gui::App().ShowException(e);
    } catch (...) {
      gui::App().ShowException(Exception("Unknown exception"));
    }
  });

  int status = cli::kExitPortError;
  {
    TForm1 form;
    backend.CreatePeers(form);
    backend.Show(form);
    cli::Autopilot autopilot(form, backend, options, std::cout, std::cerr,
                             [&interrupt] { return interrupt.Interrupted(); });
    pilot = &autopilot;
    // Every change of the status text and the state word reaches the printout, also the ones
    // that a later change in the same handler overwrites.
    form.sBar.AttachPeer(std::make_unique<cli::StatusPeer>(autopilot));
    form.Label1.AttachPeer(std::make_unique<cli::StatusPeer>(autopilot));
    bool createFailed = !backend.ErrorBoxes().empty();
    status = createFailed ? cli::kExitPortError : autopilot.Run();
    pilot = nullptr;
  }
  rt::SetBackgroundErrorHandler(nullptr);
  gui::App().SetBackend(nullptr);
  return status;
}
