// One open port with the behaviour of a Windows serial handle, over a line that is a tty or a
// serial server's network port (Line.h).
//
// Principles of operation:
// - The line is watched by whoever waits: a thread that waits for the event of one of the
//   port's pending transfers (the component's watcher, waiting for a comm event; a caller
//   waiting for a read) takes the lead and blocks in poll() on the line's descriptor, the
//   port's wake-up eventfd and its own wake-up (EventDriver.h), so a byte wakes the thread that
//   waits for it and no other. One thread leads at a time; others follow: they sleep until their
//   event is set or the lead is handed to them. The poll timeout is the earliest deadline of a
//   pending transfer (or of the transmit-drain check); with nothing pending it sleeps without a
//   timeout, so an idle port costs no wake-ups.
// - The engine thread leads only when nobody waits and something pending must progress (a
//   write the line holds back, a read's deadline, the drain check), or a comm-event wait is
//   pending while a thread waits for it from another port's poll; otherwise it sleeps on a
//   condition variable and costs nothing. A pending comm-event wait that nobody waits for is
//   left until someone looks at it (a wait for its event, GetOverlappedResult, any call that
//   reads the line): it then completes with what the line brought meanwhile, as the history of
//   events.
// - The lead is never lost: whenever it is needed it is held by exactly one thread, which polls
//   or has been handed it (CommLead.cpp states the invariant). Whoever stops leading or waiting
//   passes it on, and every call that gives the leader's poll something more to wait for wakes
//   it.
// - Received bytes go into the port's own receive queue, whose size SetupComm sets, through
//   the PARMRK decoder when the line marks line errors in-band. A full queue stops reading from
//   the line: the bytes wait in the kernel, whose flow control (if any) then holds the sender.
//   Nothing is dropped.
// - Calls from the component do what can be done at once on the calling thread (take queued
//   bytes, write what the line accepts) and leave the rest to the lead, which completes the
//   overlapped block and signals its event.
// - A hang-up (adapter pulled, other side of a pseudo-terminal closed, connection lost)
//   completes pending transfers and the pending event wait once with
//   ERROR_DEVICE_NOT_CONNECTED; later transfers fail at once. The lead stops polling the dead
//   descriptor.
// All state is guarded by one mutex; the lead drops it only while it sleeps in poll(), and
// SetCommState only while it waits for a line to confirm its settings.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/posix/EventDriver.h"
#include "serial/driver/CommTypes.h"
#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/Line.h"
#include "serial/driver/posix/engine/ReceiveQueue.h"
#include "serial/driver/posix/engine/TransferTimeouts.h"
#include "serial/driver/posix/engine/TransmitDrain.h"

namespace drv::posix {

class CommPort final : public rt::EventDriver, public std::enable_shared_from_this<CommPort> {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts the engine on an open line; on failure returns nullptr and sets *error.
  static std::shared_ptr<CommPort> Start(std::unique_ptr<Line> line, const std::string& threadName,
                                         std::uint32_t* error);
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  // Stops the engine, aborts what is pending (995), restores the line, closes the device.
  void Close();

  // Each returns a Windows error number: kErrorSuccess, kErrorIoPending, or the failure.
  std::uint32_t SetCommState(const Dcb& dcb);
  std::uint32_t SetCommTimeouts(const CommTimeouts& timeouts);
  std::uint32_t SetupComm(std::uint32_t inQueue, std::uint32_t outQueue);
  std::uint32_t SetCommMask(std::uint32_t mask);
  std::uint32_t WaitCommEvent(std::uint32_t* eventMask, Overlapped* ov);
  std::uint32_t ReadFile(void* buffer, std::uint32_t count, std::uint32_t* done, Overlapped* ov);
  std::uint32_t WriteFile(const void* buffer, std::uint32_t count, std::uint32_t* done,
                          Overlapped* ov);
  std::uint32_t ClearCommError(std::uint32_t* errors, ComStat* stat);
  std::uint32_t GetCommModemStatus(std::uint32_t* status);
  std::uint32_t PurgeComm(std::uint32_t flags);

  // Reads an overlapped block's outcome: its state word, published last, shows a completion
  // whole (result and count) without the engine's lock.
  std::uint32_t OverlappedOutcome(const Overlapped* ov, std::uint32_t* done);
  // Looks at the line once without waiting, unless a thread watches it already: a transfer
  // that is looked at sees what would have completed it in the background.
  void LookAtLine();

  // A thread waiting for one of this port's transfers (EventDriver).
  void Drive(int wakeFd, const std::atomic<bool>& woken,
             std::optional<Clock::time_point> deadline) override;
  void Leave(int wakeFd) override;
  void Attend() override;
  void Unattend() override;

 private:
  // The lock for one call; at its end the lead learns what the call changed (AfterCall).
  class CallScope {
   public:
    explicit CallScope(CommPort& port) : port_(port), lock_(port.m_) {}
    ~CallScope() { port_.AfterCall(); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
    std::unique_lock<std::mutex>& Lock() { return lock_; }

   private:
    CommPort& port_;
    std::unique_lock<std::mutex> lock_;
  };

  // What a leader's poll waits for: the line's poll events, input the line holds already (no
  // waiting at all), and the earliest deadline.
  struct PollPlan {
    short lineEvents = 0;
    bool inputHeld = false;
    std::optional<Clock::time_point> deadline;
  };

  struct PendingRead {
    Overlapped* ov = nullptr;
    std::uint8_t* buffer = nullptr;
    std::uint32_t count = 0;
    std::uint32_t got = 0;
    ReadPlan plan;
    bool started = false;
    std::optional<Clock::time_point> totalDeadline;
    std::optional<Clock::time_point> lastByteAt;
  };
  struct PendingWrite {
    Overlapped* ov = nullptr;
    const std::uint8_t* buffer = nullptr;
    std::uint32_t count = 0;
    std::uint32_t written = 0;
    std::optional<std::uint64_t> totalMs;
    bool started = false;
    std::optional<Clock::time_point> deadline;
  };

  CommPort(std::unique_ptr<Line> line, int wakeFd, int inputFd);

  static int MillisecondsUntil(Clock::time_point deadline, Clock::time_point now);

  void EngineLoop();
  // The lead's work: one poll of the line, the port's wake-up and the caller's fd (or -1),
  // until something happens or the earlier of the port's deadlines and until; then what the
  // line and the clock call for. Returns whether the caller's fd became readable.
  bool WatchLineOnce(std::unique_lock<std::mutex>& lock, int callerFd,
                     std::optional<Clock::time_point> until);
  PollPlan PlanPoll() const;

  // The lead (CommLead.cpp).
  bool TakeLead();
  // Gives the lead up and passes it on; keeperFd is the wake-up of a waiting thread that gives
  // it up and comes back at once (or leaves), -1 otherwise.
  void ReleaseLead(int keeperFd);
  void PassLead(int keeperFd);
  // Something pending must progress whether or not a thread waits for the port.
  bool EngineShouldLead() const;
  bool LeadNeeded() const;
  bool LeadHeld() const;
  void CheckLead() const;
  bool LeaderMustLookAgain() const;
  void Wake();
  // After a change: the leader looks again if it must wait for more than its poll does; a free
  // lead that is now needed is passed on.
  void Nudge();
  void AfterCall();
  // Attaches the port to a transfer's event that is left pending.
  void DriveWaitsFor(const Overlapped* ov);

  // Receive side.
  // Takes in what the line holds, as far as the queue has room (and `beyond` bytes more).
  void PullFromLine(std::uint32_t beyond = 0);
  // Whether a read of the line may find something now (asking the line only when it was last
  // read to its end).
  bool LineMayHaveInput();
  bool TopUpFromLine();
  Line::Input TakeFromLine(std::uint32_t room);
  void ServeReads(Clock::time_point now);
  void StartRead(PendingRead& r, Clock::time_point now);
  bool ReadIsDone(const PendingRead& r, Clock::time_point now, bool starting) const;

  // Transmit side.
  void PushWrites(Clock::time_point now);
  void StartWrite(PendingWrite& w, Clock::time_point now);
  void CheckTransmitDrained(Clock::time_point now);

  // Events and errors.
  void RaiseEvents(std::uint32_t events);
  void RecordErrors(std::uint32_t errors);
  void HangUp();
  void AbortReads(std::uint32_t error);
  void AbortWrites(std::uint32_t error);
  void CompleteWait(std::uint32_t error, std::uint32_t events);

  std::mutex m_;
  std::condition_variable lineAnswered_;  // the lead took input: confirmations may be in
  std::condition_variable engineCalled_;  // the engine may be needed, or the port closes
  std::condition_variable leadGiven_;     // nobody leads any more
  std::unique_ptr<Line> line_;
  int wakeFd_;
  int inputFd_;  // epoll set with the line, edge-triggered for input
  std::thread engine_;
  std::unique_ptr<LineActivity> lineWatcher_;

  bool leading_ = false;        // a thread is watching the line (in WatchLineOnce)
  bool engineLeads_ = false;    // that thread is the engine
  int handedTo_ = -1;           // wake-up fd of the waiting thread the lead was handed to
  bool engineHanded_ = false;   // the engine was called to take the lead
  std::vector<int> followers_;  // wake-up fds of threads waiting for the lead, longest first
  int attendants_ = 0;          // threads that wait for the port while driving another
  PollPlan polled_;             // what the leader's poll waits for
  bool closed_ = false;
  bool stopping_ = false;
  bool hungUp_ = false;             // the device is gone: transfers fail, the engine ignores the fd
  bool lineDrained_ = false;        // everything the kernel held after the hang-up has been read
  bool lineMayHoldInput_ = false;   // the line was not read to its end since its last edge
  std::size_t takenSinceWait_ = 0;  // bytes taken in from the line since WaitCommEvent
  bool writeBlocked_ = false;       // the line refused more output: wait for POLLOUT
  bool bytesSentSinceEmpty_ = false;  // EV_TXEMPTY is owed once the output has drained
  bool outputSeenEmpty_ = false;      // the line said its output was empty, and nothing was sent
                                      // since: ClearCommError need not ask again

  ReceiveRules rules_;
  CommTimeouts timeouts_;
  ReceiveQueue rx_;

  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
  std::optional<Clock::time_point> drainCheckAt_;
  DrainChecks drainChecks_;

  std::uint32_t mask_ = 0;
  std::uint32_t history_ = 0;
  Overlapped* waitOv_ = nullptr;
  std::uint32_t* waitMask_ = nullptr;

  std::uint32_t errors_ = 0;
};

}  // namespace drv::posix
