// What talks to the line under a port: a tty through termios and ioctls (TtyLine), or a serial
// server through a socket (NetLine). The port above it (CommPort) gives either the behaviour of
// a Windows serial handle: its receive queue, overlapped transfers, timeouts, events, purges and
// the hang-up. A line only moves bytes and settings.
//
// Every call is made with the port's lock held, by the engine or by a caller, and none blocks:
// the descriptor is non-blocking and the engine polls it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

// Something running on the line's behalf that its owner stops by destroying it.
class LineActivity {
 public:
  virtual ~LineActivity() = default;
};

class Line {
 public:
  using Clock = std::chrono::steady_clock;

  struct Input {
    std::size_t bytes = 0;     // placed in the buffer, in the receive queue's form
    bool more = false;         // the read was as large as allowed: more may be waiting
    bool gone = false;         // end of file or a failure: the device has gone
    std::uint32_t events = 0;  // EV_ bits the line reported beside its data
    std::uint32_t errors = 0;  // CE_ bits likewise
  };
  using LineChangeReport = std::function<void(std::uint32_t events)>;

  virtual ~Line() = default;

  // The descriptor the engine polls.
  virtual int Fd() const = 0;
  // Whether received bytes carry PARMRK marks, which the receive queue then decodes.
  virtual bool MarksLineErrors() const = 0;

  // Reads at most max bytes' worth from the descriptor into buffer.
  virtual Input Read(std::uint8_t* buffer, std::size_t max) = 0;
  // Input the line took from the descriptor already and still holds for Read.
  virtual bool InputHeld() const { return false; }
  // Whether a read now may find something. A tty answers from the kernel's count, sparing a
  // read that finds nothing (which first waits for the kernel's buffer work); true when it
  // cannot tell, so that the read shows a hang-up.
  virtual bool InputPending() { return true; }

  // Hands bytes to the line: how many it took (> 0), 0 when it takes nothing now (the engine
  // waits for the descriptor to become writable), -1 when the device has gone.
  virtual long Write(const std::uint8_t* data, std::size_t n) = 0;
  // The other end has asked for no more data for now (flow control of the connection); it
  // says so again when it wants more, as input.
  virtual bool OutputSuspended() const { return false; }
  // Output the line produced itself (answers, requests) and could not hand over yet.
  virtual bool OwnOutputWaiting() const { return false; }
  // Hands that output over as far as the descriptor takes it; false when the device has gone.
  virtual bool FlushOwnOutput() { return true; }
  // Bytes handed over that have not left yet; false when the line cannot say.
  virtual bool OutputQueued(std::uint32_t* queued) = 0;

  // Puts the line into the DCB's framing, flow control and modem line levels (already
  // validated). Returns a Windows error number.
  virtual std::uint32_t Apply(const Dcb& dcb) = 0;
  // Settings sent that the other end has not confirmed yet, and until when they are waited
  // for. A line whose settings take effect at once has none.
  virtual bool Unconfirmed(Clock::time_point* until) const {
    (void)until;
    return false;
  }
  // Gives up waiting for the confirmations still missing (and says so once).
  virtual void StopWaitingForConfirmation() {}

  virtual std::uint32_t ModemStatus(std::uint32_t* status) = 0;  // MS_*_ON; a Windows error
  virtual void Purge(bool transmit, bool receive) = 0;
  // Starts reporting changes of CTS, DSR, RLSD and RING through report, until the returned
  // activity is destroyed; none when the line has no such lines or reports them in Read.
  virtual std::unique_ptr<LineActivity> WatchLineChanges(LineChangeReport report) = 0;

  // Gives back what the open changed and closes the descriptor.
  virtual void Close() = 0;
};

}  // namespace drv::posix
