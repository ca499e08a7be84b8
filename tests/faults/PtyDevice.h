// The far end of the cable: a pseudo-terminal whose master the test plays as the device,
// while the code under test opens the slave by its path.
#pragma once

#include <chrono>
#include <string>

namespace faults {

class PtyDevice {
 public:
  PtyDevice();
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& Path() const { return slavePath_; }
  bool Open() const { return master_ >= 0; }
  // Writes all of text, waiting for room as long as limit allows; returns what went out.
  std::size_t Send(const std::string& text,
                   std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Reads what the tool has sent so far (never blocks) and returns everything received.
  const std::string& Received();
  // Unplugs the cable: the slave sees a hang-up.
  void HangUp();

 private:
  int master_ = -1;
  std::string slavePath_;
  std::string received_;
};

}  // namespace faults
