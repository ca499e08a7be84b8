#include "app/cli/TextReport.h"

#include <cstdio>
#include <limits>
#include <ostream>

#include "app/ConsoleReply.h"
#include "app/cli/CliOptions.h"
#include "app/cli/PortName.h"

namespace cli {

namespace {

// A device's words may reach these texts; the terminal gets them printable.
std::string Shown(const std::string& text) {
  return app::ShownText(text, std::numeric_limits<std::size_t>::max());
}

}  // namespace

TextReport::TextReport(std::ostream& out, std::ostream& err, bool quiet, bool summary)
    : out_(out),
      err_(err),
      quiet_(quiet),
      summary_(summary),
      start_(std::chrono::steady_clock::now()) {}

void TextReport::Print(const std::string& line) {
  if (quiet_) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  out_ << stamp << line << std::endl;
}

void TextReport::Progressed(const app::RunProgress& progress) {
  // A handler may set the same text again; the printout shows changes. A new Box's window
  // starts with none: that is no news.
  if (progress.status != lastStatus_) {
    lastStatus_ = progress.status;
    if (!progress.status.empty()) Print("status: " + Shown(progress.status));
  }
  if (progress.state != lastState_) {
    lastState_ = progress.state;
    if (!progress.state.empty()) Print("state:  " + Shown(progress.state));
  }
}

void TextReport::PortChosen(const std::string& port, const std::string& device) {
  port_ = ShownName(port) + (device != port ? " (" + ShownName(device) + ")" : std::string());
  Print("port:   " + port_);
}

void TextReport::EraseChosen(bool withConfiguration) {
  Print(std::string("erase:  ") +
        (withConfiguration ? "user data and configuration" : "user data"));
}

void TextReport::PortClosed() {
  Print("port:   closed");
}

void TextReport::ErrorBox(const std::string& caption, const std::string& text) {
  err_ << "zanowipe-cli: error box [" << Shown(caption) << "]: " << Shown(text) << std::endl;
}

void TextReport::Problem(const std::string& text) {
  err_ << "zanowipe-cli: " << Shown(text) << std::endl;
}

void TextReport::Finished(int status, const std::string& message) {
  // A new Box starts from the window's first texts again.
  lastStatus_.clear();
  lastState_.clear();
  if (message.empty()) return;
  // A result, whatever it is, is the run's output; anything else that ended it is an error.
  if (status == kExitComplete || status == kExitFailed || status == kExitUnverified) {
    out_ << Shown(message) << std::endl;
  } else {
    err_ << "zanowipe-cli: " << Shown(message) << std::endl;
  }
}

void TextReport::Counted(int, int, int) {}

void TextReport::Ended(int, int done, int failed, int unverified) {
  if (!summary_) return;
  out_ << "Summary: " << (port_.empty() ? std::string("the port") : port_) << ": " << done
       << " done, " << failed << " failed, " << unverified << " unverified" << std::endl;
}

}  // namespace cli
