// Modem lines of a tty: DTR/RTS, the status word, and line-change events.
//
// A pseudo-terminal has no modem lines; its ioctls fail with ENOTTY or EINVAL. There DTR/RTS
// settings are accepted and ignored, the status reads all-off, and no line event fires.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/Line.h"

namespace drv::posix {

// 0 or an errno value; "no modem lines" counts as success.
int SetModemControl(int fd, const ModemControl& control);
// Fills MS_*_ON bits; 0 (all off) without modem lines. Returns 0 or an errno value.
int ReadModemStatus(int fd, std::uint32_t* status);
bool HasModemLines(int fd);

// Waits in TIOCMIWAIT on a helper thread and reports which of EV_CTS, EV_DSR, EV_RLSD and
// EV_RING changed. The kernel wakes it on a change; nothing is polled. Only for ttys with
// modem lines.
class LineChangeWatcher final : public LineActivity {
 public:
  using Report = std::function<void(std::uint32_t events)>;
  LineChangeWatcher(int fd, Report report);
  ~LineChangeWatcher() override;  // stops and joins
  LineChangeWatcher(const LineChangeWatcher&) = delete;
  LineChangeWatcher& operator=(const LineChangeWatcher&) = delete;

 private:
  void Run();

  int fd_;
  Report report_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace drv::posix
