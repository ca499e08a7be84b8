// zanowipe-cli: the window's logic without a window, for automation and production lines.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/SettingsFile.h"
#include "app/cli/CliOptions.h"
#include "app/cli/EventReport.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/LineRun.h"
#include "app/cli/PortName.h"
#include "app/cli/PortRun.h"
#include "app/cli/RecordFile.h"
#include "app/cli/TextReport.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"

namespace {

bool Confirm(const cli::CliOptions& options) {
  std::string ports;
  for (const cli::PortChoice& p : options.ports) {
    ports += (ports.empty() ? "" : ", ") + cli::ShownName(p.given);
  }
  std::cout << "Erase user data on the " << (options.ports.size() > 1 ? "Boxes" : "Box") << " at "
            << ports << (options.loop ? ", one Box after another" : "") << "? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

// One port in this process: printed for a person, or as events for a parent.
int RunPortHere(const cli::CliOptions& options) {
  // The settings file belongs to the window: its place and port choice are not this run's to
  // keep, and the headless screen would move a stored place. [PORTS] is only read.
  app::SetSettingsWritable(false);
  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  int status = cli::kExitPortError;
  {
    // A posted call that does nothing wakes the loop, which then sees the flag.
    cli::InterruptWatch interrupt([] { rt::Post([] {}); });
    std::unique_ptr<cli::RunReport> report;
    if (options.worker) {
      report = std::make_unique<cli::EventReport>(stdout);
    } else {
      report = std::make_unique<cli::TextReport>(std::cout, std::cerr, options.quiet, options.loop);
    }
    cli::PortRun run(backend, options, *report, [&interrupt] { return interrupt.Interrupted(); });
    status = run.Run();
  }
  gui::App().SetBackend(nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  cli::CliParse parsed = cli::ParseCliOptions(argc, argv);
  if (!parsed.options) {
    (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message;
    return parsed.exitCode;
  }
  cli::CliOptions& options = *parsed.options;
  cli::PrepareProcess();
  if (options.worker) {
    // Its parent opened the record file for it.
    if (!options.recordPath.empty()) options.recordFd = cli::kWorkerRecordDescriptor;
    return RunPortHere(options);
  }
  if (!options.yes && !Confirm(options)) {
    std::cerr << "zanowipe-cli: not confirmed; nothing done" << std::endl;
    return cli::kExitDeclined;
  }
  // A record that cannot be kept is found out before any Box is erased without one.
  std::string error;
  if (!options.recordPath.empty() && !cli::CheckRecordFile(options.recordPath, error)) {
    std::cerr << "zanowipe-cli: " << error << std::endl;
    return cli::kExitUsage;
  }
  if (options.ports.size() > 1) return cli::RunLine(options);
  return RunPortHere(options);
}
