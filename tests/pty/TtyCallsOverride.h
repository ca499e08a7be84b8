// Puts the engine's own tty calls back when a test that replaced one of them ends, whichever
// way it ends. Declare it before anything that opens a port, so that the port is closed first.
#pragma once

#include "serial/driver/posix/tty/TtyCalls.h"

namespace ptytest {

class TtyCallsOverride {
 public:
  TtyCallsOverride() = default;
  ~TtyCallsOverride() { drv::posix::Tty() = drv::posix::SystemTtyCalls(); }
  TtyCallsOverride(const TtyCallsOverride&) = delete;
  TtyCallsOverride& operator=(const TtyCallsOverride&) = delete;
};

}  // namespace ptytest
