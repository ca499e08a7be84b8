// A port's run as the parent process hears it: each report becomes an event line on the given
// stream, written out at once. A parent that has gone away loses the events; the run goes on
// until it is told to stop.
#pragma once

#include <cstdio>

#include "app/cli/EventStream.h"
#include "app/cli/RunReport.h"

namespace cli {

class EventReport : public RunReport {
 public:
  explicit EventReport(std::FILE* out) : out_(out) {}

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
  void Emit(const WorkerEvent& event);

  std::FILE* out_;
  bool progressSent_ = false;
  app::RunProgress last_;
};

}  // namespace cli
