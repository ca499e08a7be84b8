// A port's run printed for a person, as the command line has always printed it: every status
// text and state word as it changes, with the seconds since the start; errors on the error
// stream; with --quiet only errors and results.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include "app/cli/RunReport.h"

namespace cli {

class TextReport : public RunReport {
 public:
  // summary: print the counts when the port has ended (a run of several Boxes).
  TextReport(std::ostream& out, std::ostream& err, bool quiet, bool summary = false);

  void Progressed(const app::RunProgress& progress) override;
  void PortChosen(const std::string& port, const std::string& device) override;
  void EraseChosen(bool withConfiguration) override;
  void PortClosed() override;
  void ErrorBox(const std::string& caption, const std::string& text) override;
  void Problem(const std::string& text) override;
  void Finished(int status, const std::string& message) override;
  void Counted(int done, int failed, int unverified) override;
  void Ended(int status, int done, int failed, int unverified) override;

 private:
  void Print(const std::string& line);

  std::ostream& out_;
  std::ostream& err_;
  bool quiet_;
  bool summary_;
  std::chrono::steady_clock::time_point start_;
  std::string port_;
  std::string lastStatus_, lastState_;
};

}  // namespace cli
