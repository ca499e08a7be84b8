// A pseudo-terminal whose slave the engine opens and whose master plays the other end of the
// cable, plus the small helpers the engine tests share.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Event.h"
#include "serial/driver/CommDriver.h"

namespace ptytest {

class PtyPair {
 public:
  PtyPair();  // opens the master; the slave stays closed until the engine opens it
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }
  void Send(const std::vector<std::uint8_t>& bytes);
  void Send(const std::string& text);
  // Everything that arrives within the window (stops early once `atLeast` bytes are in).
  std::vector<std::uint8_t> Receive(std::size_t atLeast, std::chrono::milliseconds window);
  void CloseMaster();

 private:
  int master_ = -1;
  std::string slavePath_;
};

// An overlapped block with an event of its own, as the component's transfer record has.
struct Transfer {
  rt::Event event{true, true};
  drv::Overlapped ov;
  Transfer() { ov.hEvent = event.Handle(); }
  bool WaitDone(std::chrono::milliseconds limit) {
    return event.Wait(static_cast<std::uint32_t>(limit.count()));
  }
};

// Opens path with the arguments the component uses.
drv::Handle OpenPort(const std::string& path);
// The tool's own line: 115200 8N1, no flow control, DTR/RTS off, NUL bytes discarded.
drv::Dcb ToolDcb();
drv::CommTimeouts Timeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant,
                           std::uint32_t writeMultiplier = 0, std::uint32_t writeConstant = 0);

// Context switches (voluntary + involuntary) of one thread of this process, by name.
long ContextSwitchesOfThread(const std::string& threadName);
// The same, once the thread has been asleep with an unchanged count for 20 ms (at most 5 s).
long SettledContextSwitchesOfThread(const std::string& threadName);
// CPU time in ms consumed by that thread so far.
long CpuMillisecondsOfThread(const std::string& threadName);
// The engine's thread name for a handle.
std::string EngineThreadName(drv::Handle h);

std::vector<std::uint8_t> Bytes(const std::string& text);

}  // namespace ptytest
