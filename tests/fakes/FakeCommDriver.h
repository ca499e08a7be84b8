// A serial driver for tests, at the byte level, with the Windows semantics the component
// relies on.
//
// Principles of operation:
// - Every call is recorded in order with its arguments, also when it fails. Any call can be
//   told to fail with a Windows error, once or until told otherwise.
// - A device exists only when the test registered its name; opening is exclusive, like a port
//   opened without sharing. Opening anything else fails with 2 (not found).
// - The line of the open device is simulated: Receive() puts bytes in the input queue (or
//   straight into a pending read), raises EV_RXCHAR, EV_RXFLAG for the DCB's event character
//   and EV_RX80FULL at 80 % of the SetupComm input size, and drops NUL bytes when the DCB
//   says so. Written bytes are captured and handed to the OnWrite hook, so a test can play a
//   device that answers what it is sent.
// - Overlapped operations complete either at once or later on command; completion writes the
//   result into the overlapped block and signals its event through rt::SetEvent, as the
//   kernel does. A purge with the abort flags completes pending transfers with 995.
// - WaitCommEvent: events that occur while no wait is outstanding are kept and complete the
//   next wait at once; SetCommMask completes an outstanding wait with an empty mask.
// - HangUp() plays an adapter pulled out, as the termios engine reports it: pending operations
//   fail once with the given error; later waits, writes, modem queries, settings and reads of
//   an empty queue fail at once with it; purges, masks and ClearCommError still succeed, so
//   the port can be closed.
// - Thread-safe: the event watcher calls it from its own thread. The last error is
//   thread-local, as GetLastError is.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "serial/driver/CommDriver.h"

namespace fake {

// One recorded driver call.
struct FakeCall {
  std::string name;
  drv::Handle handle = drv::kInvalidHandle;
  // The numeric arguments in call order: CreateFileA (access, share, disposition, flags),
  // SetupComm (in, out), SetCommMask (mask), PurgeComm (flags), ReadFile and WriteFile
  // (count), GetOverlappedResult (wait).
  std::vector<std::uint32_t> args;
  std::string text;            // CreateFileA's name; WriteFile's bytes
  drv::Dcb dcb;                // SetCommState
  drv::CommTimeouts timeouts;  // SetCommTimeouts
  bool ok = true;
  std::uint32_t error = 0;  // the error it failed with
};

enum class Completion {
  Immediate,  // a transfer completes inside the call that starts it
  Pending,    // a transfer returns 997 and completes later (reads: when full, or on command)
};

class FakeCommDriver : public drv::CommDriver {
 public:
  FakeCommDriver();
  ~FakeCommDriver() override;

  // --- set-up -----------------------------------------------------------------------------
  void AddDevice(const std::string& name);
  // The named call fails with error: the next time only, or every time until StopFailing.
  void FailNext(const std::string& call, std::uint32_t error);
  void FailAlways(const std::string& call, std::uint32_t error);
  void StopFailing(const std::string& call);
  void SetReadCompletion(Completion c);
  void SetWriteCompletion(Completion c);
  // Whether a completed write raises EV_TXEMPTY (off by default, to keep call logs short).
  void SetTxEmptyOnWrite(bool on);
  // Called with the bytes of each completed write, outside the driver's lock (it may call
  // Receive to answer).
  void OnWrite(std::function<void(const std::string&)> hook);

  // --- the line of the open device (ignored while no device is open) -----------------------
  void Receive(const std::string& bytes);
  // Events that occurred, filtered by the mask: they complete the outstanding wait or are
  // kept for the next one.
  void RaiseEvents(std::uint32_t evMask);
  // Error bits for the next ClearCommError (ORed in).
  void AddErrors(std::uint32_t ceBits);
  void SetModemStatus(std::uint32_t msBits);
  // Pending reads complete with what they hold, as when the read timeouts expire.
  void CompleteReads();
  void CompletePendingWrites();
  void HangUp(std::uint32_t error = drv::kErrorDeviceNotConnected);

  // --- observation ------------------------------------------------------------------------
  std::vector<FakeCall> Calls() const;
  std::vector<std::string> CallNames() const;
  int CountOf(const std::string& name) const;
  // The last call of that name; a default FakeCall (empty name) when there was none.
  FakeCall LastCall(const std::string& name) const;
  void ClearCalls();
  std::string Written() const;
  // Forgets what was written so far, for a test that runs the tool again on the same device.
  void ClearWritten();
  std::size_t InputQueued() const;
  int PendingReads() const;
  int PendingWrites() const;
  bool WaitOutstanding() const;
  std::uint32_t Mask() const;
  bool IsOpen() const;

  // Blocks until pred() holds or timeout passes; pred is evaluated without the driver's lock,
  // after every state change.
  bool WaitUntil(const std::function<bool()>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // --- drv::CommDriver ---------------------------------------------------------------------
  drv::Handle CreateFileA(const char* name, std::uint32_t desiredAccess, std::uint32_t shareMode,
                          std::uint32_t creationDisposition,
                          std::uint32_t flagsAndAttributes) override;
  bool CloseHandle(drv::Handle h) override;
  bool SetCommState(drv::Handle h, const drv::Dcb& dcb) override;
  bool SetCommTimeouts(drv::Handle h, const drv::CommTimeouts& timeouts) override;
  bool SetupComm(drv::Handle h, std::uint32_t inQueue, std::uint32_t outQueue) override;
  bool SetCommMask(drv::Handle h, std::uint32_t mask) override;
  bool WaitCommEvent(drv::Handle h, std::uint32_t* eventMask, drv::Overlapped* ov) override;
  bool ReadFile(drv::Handle h, void* buffer, std::uint32_t count, std::uint32_t* done,
                drv::Overlapped* ov) override;
  bool WriteFile(drv::Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done,
                 drv::Overlapped* ov) override;
  bool GetOverlappedResult(drv::Handle h, drv::Overlapped* ov, std::uint32_t* done,
                           bool wait) override;
  bool ClearCommError(drv::Handle h, std::uint32_t* errors, drv::ComStat* stat) override;
  bool GetCommModemStatus(drv::Handle h, std::uint32_t* status) override;
  bool PurgeComm(drv::Handle h, std::uint32_t flags) override;
  std::uint32_t GetLastError() override;

 private:
  struct PendingRead {
    drv::Overlapped* ov;
    char* buffer;
    std::uint32_t count;
    std::uint32_t got;
  };
  struct PendingWrite {
    drv::Overlapped* ov;
    const char* buffer;  // read at completion, as a driver sending from it would
    std::uint32_t count;
  };
  struct OutstandingWait {
    drv::Overlapped* ov = nullptr;
    std::uint32_t* eventMask = nullptr;
  };
  struct Device {
    std::string name;
    drv::Handle handle = drv::kInvalidHandle;  // the open handle, if any
    bool gone = false;
    std::uint32_t goneError = 0;
    std::string input;
    std::uint32_t errors = 0;
    std::uint32_t modem = 0;
    std::uint32_t mask = 0;
    std::uint32_t keptEvents = 0;
    std::uint32_t inQueueSize = 0;
    drv::Dcb dcb;
    OutstandingWait wait;
    std::deque<PendingRead> reads;
    std::deque<PendingWrite> writes;
  };
  struct FailRule {
    std::uint32_t error;
    bool always;
  };
  using Lock = std::unique_lock<std::mutex>;
  using Written_ = std::vector<std::string>;

  // Records the call; returns false (with the last error set) when it is to fail.
  bool Enter(const Lock& lock, FakeCall call);
  bool Fail(std::uint32_t error);
  Device* DeviceOf(drv::Handle h);
  Device* OpenDevice();
  void Complete(drv::Overlapped* ov, std::uint32_t error, std::uint32_t bytes);
  void Raise(Device& d, std::uint32_t evMask);
  void FillPendingReads(Device& d);
  std::string FinishWrite(Device& d, const PendingWrite& w, std::uint32_t error);
  void NotifyWrites(const Written_& chunks);
  void Changed();

  mutable std::mutex m_;
  mutable std::condition_variable changed_;
  mutable std::uint64_t generation_ = 0;
  std::map<std::string, Device> devices_;
  std::map<std::string, FailRule> failures_;
  std::vector<FakeCall> calls_;
  std::uint64_t cleared_ = 0;  // calls dropped by ClearCalls, so a record keeps its place
  std::string written_;
  drv::Handle nextHandle_ = 0x100;
  std::string current_;  // the device opened last
  Completion readCompletion_ = Completion::Immediate;
  Completion writeCompletion_ = Completion::Immediate;
  bool txEmptyOnWrite_ = false;
  std::function<void(const std::string&)> onWrite_;
};

}  // namespace fake
