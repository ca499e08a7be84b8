// The POSIX CommDriver: a table of open ports behind small integer handles, the thread-local
// last error, and the synchronous form of the transfer calls.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/Event.h"
#include "serial/driver/CommDriver.h"
#include "serial/driver/DeviceMap.h"
#include "serial/driver/posix/engine/CommPort.h"
#include "serial/driver/posix/engine/OverlappedBlock.h"
#include "serial/driver/posix/net/NetAddress.h"
#include "serial/driver/posix/net/NetLine.h"
#include "serial/driver/posix/tty/ConsoleGuard.h"
#include "serial/driver/posix/tty/TtyLine.h"

namespace drv {
namespace {

using posix::CommPort;

thread_local std::uint32_t lastError = kErrorSuccess;

bool Fail(std::uint32_t error) {
  lastError = error;
  return false;
}

// Windows reports a started overlapped transfer as FALSE with ERROR_IO_PENDING.
bool Report(std::uint32_t error) {
  return error == kErrorSuccess ? true : Fail(error);
}

std::unique_ptr<posix::Line> OpenLine(const std::string& device, bool network,
                                      std::uint32_t* error) {
  if (network) {
    std::string reason;
    std::unique_ptr<posix::Line> line = posix::NetLine::Open(device, error, &reason);
    if (!line) SetOpenFailureDetail(reason);
    return line;
  }
  // Checked here, below every caller, so that no name or [PORTS] entry reaches a console.
  if (posix::IsSystemConsole(device)) {
    *error = kErrorSystemConsole;
    return nullptr;
  }
  return posix::TtyLine::Open(device, error);
}

class PosixCommDriver final : public CommDriver {
 public:
  Handle CreateFileA(const char* name, std::uint32_t desiredAccess, std::uint32_t /*shareMode*/,
                     std::uint32_t creationDisposition,
                     std::uint32_t /*flagsAndAttributes*/) override {
    SetOpenFailureDetail({});
    if (name == nullptr) return Fail(kErrorInvalidParameter), kInvalidHandle;
    if (creationDisposition != kOpenExisting ||
        (desiredAccess & (kGenericRead | kGenericWrite)) == 0) {
      return Fail(kErrorInvalidParameter), kInvalidHandle;
    }
    Handle h;
    {
      std::lock_guard lock(m_);
      h = next_++;
    }
    const std::string device = ResolveDeviceName(name);
    std::uint32_t error = kErrorSuccess;
    const bool network = posix::IsNetworkPortName(device);
    std::unique_ptr<posix::Line> line = OpenLine(device, network, &error);
    if (!line) return Fail(error), kInvalidHandle;
    const std::string threadName = (network ? "zwnet-" : "zwtty-") + std::to_string(h);
    std::shared_ptr<CommPort> port = CommPort::Start(std::move(line), threadName, &error);
    if (!port) return Fail(error), kInvalidHandle;
    std::lock_guard lock(m_);
    ports_[h] = std::move(port);
    return h;
  }

  bool CloseHandle(Handle h) override {
    std::shared_ptr<CommPort> port;
    {
      std::lock_guard lock(m_);
      const auto it = ports_.find(h);
      if (it == ports_.end()) return Fail(kErrorInvalidHandle);
      port = std::move(it->second);
      ports_.erase(it);
    }
    port->Close();
    return true;
  }

  bool SetCommState(Handle h, const Dcb& dcb) override {
    auto port = Find(h);
    return port ? Report(port->SetCommState(dcb)) : Fail(kErrorInvalidHandle);
  }
  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override {
    auto port = Find(h);
    return port ? Report(port->SetCommTimeouts(timeouts)) : Fail(kErrorInvalidHandle);
  }
  bool SetupComm(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) override {
    auto port = Find(h);
    return port ? Report(port->SetupComm(inQueue, outQueue)) : Fail(kErrorInvalidHandle);
  }
  bool SetCommMask(Handle h, std::uint32_t mask) override {
    auto port = Find(h);
    return port ? Report(port->SetCommMask(mask)) : Fail(kErrorInvalidHandle);
  }
  bool WaitCommEvent(Handle h, std::uint32_t* eventMask, Overlapped* ov) override {
    auto port = Find(h);
    if (!port) return Fail(kErrorInvalidHandle);
    return Transfer(*port, ov, nullptr,
                    [&](Overlapped* block) { return port->WaitCommEvent(eventMask, block); });
  }
  bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t* done,
                Overlapped* ov) override {
    auto port = Find(h);
    if (!port) return Fail(kErrorInvalidHandle);
    if (buffer == nullptr && count != 0) return Fail(kErrorInvalidParameter);
    return Transfer(*port, ov, done,
                    [&](Overlapped* block) { return port->ReadFile(buffer, count, done, block); });
  }
  bool WriteFile(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done,
                 Overlapped* ov) override {
    auto port = Find(h);
    if (!port) return Fail(kErrorInvalidHandle);
    if (buffer == nullptr && count != 0) return Fail(kErrorInvalidParameter);
    return Transfer(*port, ov, done,
                    [&](Overlapped* block) { return port->WriteFile(buffer, count, done, block); });
  }

  bool GetOverlappedResult(Handle h, Overlapped* ov, std::uint32_t* done, bool wait) override {
    if (ov == nullptr) return Fail(kErrorInvalidParameter);
    if (wait && posix::LoadState(ov) == posix::kStatusPending && ov->hEvent) {
      rt::WaitForSingleObject(ov->hEvent, rt::kInfinite);
    }
    // The state word, published last, makes a completion visible whole; a closed port completes
    // nothing more.
    const auto port = Find(h);
    std::uint32_t result;
    if (port) {
      if (!wait && posix::LoadState(ov) == posix::kStatusPending) port->LookAtLine();
      result = port->OverlappedOutcome(ov, done);
    } else {
      const std::uintptr_t state = posix::LoadState(ov);
      if (state != posix::kStatusPending && done)
        *done = static_cast<std::uint32_t>(ov->InternalHigh);
      result =
          state == posix::kStatusPending ? kErrorIoIncomplete : static_cast<std::uint32_t>(state);
    }
    return Report(result);
  }

  bool ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) override {
    auto port = Find(h);
    return port ? Report(port->ClearCommError(errors, stat)) : Fail(kErrorInvalidHandle);
  }
  bool GetCommModemStatus(Handle h, std::uint32_t* status) override {
    auto port = Find(h);
    return port ? Report(port->GetCommModemStatus(status)) : Fail(kErrorInvalidHandle);
  }
  bool PurgeComm(Handle h, std::uint32_t flags) override {
    auto port = Find(h);
    return port ? Report(port->PurgeComm(flags)) : Fail(kErrorInvalidHandle);
  }
  std::uint32_t GetLastError() override { return lastError; }

 private:
  std::shared_ptr<CommPort> Find(Handle h) {
    std::lock_guard lock(m_);
    const auto it = ports_.find(h);
    return it == ports_.end() ? nullptr : it->second;
  }

  // Without an overlapped block the call is synchronous: the engine still does the work, on a
  // block and event of the call's own, and the caller waits for it.
  template <typename Start>
  static bool Transfer(CommPort& port, Overlapped* ov, std::uint32_t* done, Start start) {
    if (ov != nullptr) return Report(start(ov));
    rt::Event finished(true, false);
    Overlapped own;
    own.hEvent = finished.Handle();
    std::uint32_t result = start(&own);
    if (result == kErrorIoPending) {
      finished.Wait();
      result = port.OverlappedOutcome(&own, done);
    }
    return Report(result);
  }

  std::mutex m_;
  std::map<Handle, std::shared_ptr<CommPort>> ports_;
  Handle next_ = 1;
};

}  // namespace

CommDriver& DefaultCommDriver() {
  // Never destroyed: ports still open at exit must not be torn down under running threads.
  static auto* driver = new PosixCommDriver;
  return *driver;
}

}  // namespace drv
