#include "tests/fakes/FakeCommDriver.h"

#include <algorithm>
#include <cstring>

#include "runtime/Event.h"

namespace fake {
namespace {

thread_local std::uint32_t tLastError = 0;

// What Internal holds while an operation is under way (the kernel's STATUS_PENDING). Once it
// has completed, Internal holds the Windows error it ended with, 0 for success.
constexpr std::uintptr_t kStillPending = 0x103;

void Start(drv::Overlapped* ov) {
  ov->Internal = kStillPending;
  ov->InternalHigh = 0;
  rt::ResetEvent(ov->hEvent);
}

}  // namespace

FakeCommDriver::FakeCommDriver() = default;
FakeCommDriver::~FakeCommDriver() = default;

// --- set-up ---------------------------------------------------------------------------------

void FakeCommDriver::AddDevice(const std::string& name) {
  Lock lock(m_);
  Device& d = devices_[name];
  d.name = name;
  d.gone = false;
  Changed();
}

void FakeCommDriver::FailNext(const std::string& call, std::uint32_t error) {
  Lock lock(m_);
  failures_[call] = FailRule{error, false};
}

void FakeCommDriver::FailAlways(const std::string& call, std::uint32_t error) {
  Lock lock(m_);
  failures_[call] = FailRule{error, true};
}

void FakeCommDriver::StopFailing(const std::string& call) {
  Lock lock(m_);
  failures_.erase(call);
}

void FakeCommDriver::SetReadCompletion(Completion c) {
  Lock lock(m_);
  readCompletion_ = c;
}

void FakeCommDriver::SetWriteCompletion(Completion c) {
  Lock lock(m_);
  writeCompletion_ = c;
}

void FakeCommDriver::SetTxEmptyOnWrite(bool on) {
  Lock lock(m_);
  txEmptyOnWrite_ = on;
}

void FakeCommDriver::OnWrite(std::function<void(const std::string&)> hook) {
  Lock lock(m_);
  onWrite_ = std::move(hook);
}

// --- the line -------------------------------------------------------------------------------

void FakeCommDriver::Receive(const std::string& bytes) {
  Lock lock(m_);
  Device* d = OpenDevice();
  if (!d) return;
  std::string kept = bytes;
  if (d->dcb.Flags & drv::kFNull) std::erase(kept, '\0');
  if (kept.empty()) return;
  std::uint32_t events = drv::kEvRxChar;
  if (kept.find(d->dcb.EvtChar) != std::string::npos) events |= drv::kEvRxFlag;
  const std::size_t before = d->input.size();
  d->input += kept;
  FillPendingReads(*d);
  const std::size_t after = d->input.size();
  const std::size_t threshold = (std::size_t{d->inQueueSize} * 4 + 4) / 5;
  if (d->inQueueSize != 0 && before < threshold && after >= threshold) {
    events |= drv::kEvRx80Full;
  }
  Raise(*d, events);
  Changed();
}

void FakeCommDriver::RaiseEvents(std::uint32_t evMask) {
  Lock lock(m_);
  if (Device* d = OpenDevice()) Raise(*d, evMask);
  Changed();
}

void FakeCommDriver::AddErrors(std::uint32_t ceBits) {
  Lock lock(m_);
  if (Device* d = OpenDevice()) d->errors |= ceBits;
  Changed();
}

void FakeCommDriver::SetModemStatus(std::uint32_t msBits) {
  Lock lock(m_);
  for (auto& [name, d] : devices_) d.modem = msBits;
  Changed();
}

void FakeCommDriver::CompleteReads() {
  Lock lock(m_);
  if (Device* d = OpenDevice()) {
    for (const PendingRead& r : d->reads) Complete(r.ov, 0, r.got);
    d->reads.clear();
  }
  Changed();
}

void FakeCommDriver::CompletePendingWrites() {
  Written_ chunks;
  {
    Lock lock(m_);
    if (Device* d = OpenDevice()) {
      while (!d->writes.empty()) {
        PendingWrite w = d->writes.front();
        d->writes.pop_front();
        chunks.push_back(FinishWrite(*d, w, 0));
      }
    }
    Changed();
  }
  NotifyWrites(chunks);
}

void FakeCommDriver::HangUp(std::uint32_t error) {
  Lock lock(m_);
  auto it = devices_.find(current_);
  if (it == devices_.end()) return;
  Device& d = it->second;
  d.gone = true;
  d.goneError = error;
  if (d.wait.ov) {
    *d.wait.eventMask = 0;
    Complete(d.wait.ov, error, 0);
    d.wait = {};
  }
  for (const PendingRead& r : d.reads) Complete(r.ov, error, r.got);
  d.reads.clear();
  for (const PendingWrite& w : d.writes) Complete(w.ov, error, 0);
  d.writes.clear();
  Changed();
}

// --- observation ----------------------------------------------------------------------------

std::vector<FakeCall> FakeCommDriver::Calls() const {
  Lock lock(m_);
  return calls_;
}

std::vector<std::string> FakeCommDriver::CallNames() const {
  Lock lock(m_);
  std::vector<std::string> names;
  for (const FakeCall& c : calls_) names.push_back(c.name);
  return names;
}

int FakeCommDriver::CountOf(const std::string& name) const {
  Lock lock(m_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const FakeCall& c) { return c.name == name; }));
}

FakeCall FakeCommDriver::LastCall(const std::string& name) const {
  Lock lock(m_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->name == name) return *it;
  }
  return FakeCall{};
}

void FakeCommDriver::ClearCalls() {
  Lock lock(m_);
  cleared_ += calls_.size();
  calls_.clear();
}

std::string FakeCommDriver::Written() const {
  Lock lock(m_);
  return written_;
}

void FakeCommDriver::ClearWritten() {
  Lock lock(m_);
  written_.clear();
}

std::size_t FakeCommDriver::InputQueued() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it == devices_.end() ? 0 : it->second.input.size();
}

int FakeCommDriver::PendingReads() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it == devices_.end() ? 0 : static_cast<int>(it->second.reads.size());
}

int FakeCommDriver::PendingWrites() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it == devices_.end() ? 0 : static_cast<int>(it->second.writes.size());
}

bool FakeCommDriver::WaitOutstanding() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it != devices_.end() && it->second.wait.ov != nullptr;
}

std::uint32_t FakeCommDriver::Mask() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it == devices_.end() ? 0 : it->second.mask;
}

bool FakeCommDriver::IsOpen() const {
  Lock lock(m_);
  auto it = devices_.find(current_);
  return it != devices_.end() && it->second.handle != drv::kInvalidHandle;
}

bool FakeCommDriver::WaitUntil(const std::function<bool()>& pred,
                               std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::uint64_t seen;
    {
      Lock lock(m_);
      seen = generation_;
    }
    if (pred()) return true;
    Lock lock(m_);
    // Changes made outside the driver (a handler's flag) wake nobody; the short slice keeps
    // such predicates working without making the wait depend on them.
    const auto slice =
        std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
    changed_.wait_until(lock, slice, [&] { return generation_ != seen; });
    if (std::chrono::steady_clock::now() >= deadline) {
      lock.unlock();
      return pred();
    }
  }
}

// --- drv::CommDriver ------------------------------------------------------------------------

drv::Handle FakeCommDriver::CreateFileA(const char* name, std::uint32_t desiredAccess,
                                        std::uint32_t shareMode, std::uint32_t creationDisposition,
                                        std::uint32_t flagsAndAttributes) {
  Lock lock(m_);
  FakeCall c;
  c.name = "CreateFileA";
  c.text = name ? name : "";
  c.args = {desiredAccess, shareMode, creationDisposition, flagsAndAttributes};
  if (!Enter(lock, c)) return drv::kInvalidHandle;
  auto it = devices_.find(c.text);
  if (it == devices_.end() || it->second.gone) {
    Fail(drv::kErrorFileNotFound);
    return drv::kInvalidHandle;
  }
  Device& d = it->second;
  if (d.handle != drv::kInvalidHandle) {
    Fail(drv::kErrorAccessDenied);
    return drv::kInvalidHandle;
  }
  const std::uint32_t modem = d.modem;
  d = Device{};
  d.name = c.text;
  d.modem = modem;
  d.handle = nextHandle_++;
  current_ = c.text;
  return d.handle;
}

bool FakeCommDriver::CloseHandle(drv::Handle h) {
  Lock lock(m_);
  FakeCall c;
  c.name = "CloseHandle";
  c.handle = h;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  // Operations still outstanding are forgotten without touching their blocks: the component
  // may already have released them, and a fake that wrote into freed memory would hide the
  // fault it should expose to a sanitizer elsewhere.
  d->wait = {};
  d->reads.clear();
  d->writes.clear();
  d->handle = drv::kInvalidHandle;
  return true;
}

bool FakeCommDriver::SetCommState(drv::Handle h, const drv::Dcb& dcb) {
  Lock lock(m_);
  FakeCall c;
  c.name = "SetCommState";
  c.handle = h;
  c.dcb = dcb;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->gone) return Fail(d->goneError);
  d->dcb = dcb;
  return true;
}

bool FakeCommDriver::SetCommTimeouts(drv::Handle h, const drv::CommTimeouts& timeouts) {
  Lock lock(m_);
  FakeCall c;
  c.name = "SetCommTimeouts";
  c.handle = h;
  c.timeouts = timeouts;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->gone) return Fail(d->goneError);
  return true;
}

bool FakeCommDriver::SetupComm(drv::Handle h, std::uint32_t inQueue, std::uint32_t outQueue) {
  Lock lock(m_);
  FakeCall c;
  c.name = "SetupComm";
  c.handle = h;
  c.args = {inQueue, outQueue};
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->gone) return Fail(d->goneError);
  d->inQueueSize = inQueue;
  return true;
}

bool FakeCommDriver::SetCommMask(drv::Handle h, std::uint32_t mask) {
  Lock lock(m_);
  FakeCall c;
  c.name = "SetCommMask";
  c.handle = h;
  c.args = {mask};
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  d->mask = mask;
  d->keptEvents &= mask;
  if (d->wait.ov) {
    *d->wait.eventMask = 0;
    Complete(d->wait.ov, 0, 0);
    d->wait = {};
  }
  return true;
}

bool FakeCommDriver::WaitCommEvent(drv::Handle h, std::uint32_t* eventMask, drv::Overlapped* ov) {
  Lock lock(m_);
  FakeCall c;
  c.name = "WaitCommEvent";
  c.handle = h;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->wait.ov || d->mask == 0) return Fail(drv::kErrorInvalidParameter);
  Start(ov);
  const std::uint32_t events = d->keptEvents & d->mask;
  if (events != 0) {
    d->keptEvents = 0;
    *eventMask = events;
    Complete(ov, 0, 0);
    return true;
  }
  if (d->gone) {
    Complete(ov, d->goneError, 0);
    return Fail(d->goneError);
  }
  d->wait = OutstandingWait{ov, eventMask};
  return Fail(drv::kErrorIoPending);
}

bool FakeCommDriver::ReadFile(drv::Handle h, void* buffer, std::uint32_t count, std::uint32_t* done,
                              drv::Overlapped* ov) {
  Lock lock(m_);
  FakeCall c;
  c.name = "ReadFile";
  c.handle = h;
  c.args = {count};
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->gone && d->input.empty() && count != 0) return Fail(d->goneError);
  Start(ov);
  if (done) *done = 0;
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, d->input.size()));
  std::memcpy(buffer, d->input.data(), n);
  d->input.erase(0, n);
  if (readCompletion_ == Completion::Immediate) {
    if (done) *done = n;
    Complete(ov, 0, n);
    return true;
  }
  if (n == count) {
    Complete(ov, 0, n);
  } else {
    d->reads.push_back(PendingRead{ov, static_cast<char*>(buffer), count, n});
  }
  return Fail(drv::kErrorIoPending);
}

bool FakeCommDriver::WriteFile(drv::Handle h, const void* buffer, std::uint32_t count,
                               std::uint32_t* done, drv::Overlapped* ov) {
  Written_ chunks;
  {
    Lock lock(m_);
    FakeCall c;
    c.name = "WriteFile";
    c.handle = h;
    c.args = {count};
    c.text.assign(static_cast<const char*>(buffer), count);
    if (!Enter(lock, c)) return false;
    Device* d = DeviceOf(h);
    if (!d) return Fail(drv::kErrorInvalidHandle);
    if (d->gone) return Fail(d->goneError);
    Start(ov);
    if (done) *done = 0;
    const PendingWrite w{ov, static_cast<const char*>(buffer), count};
    if (writeCompletion_ == Completion::Pending && count != 0) {
      d->writes.push_back(w);
      return Fail(drv::kErrorIoPending);
    }
    chunks.push_back(FinishWrite(*d, w, 0));
    if (done) *done = count;
  }
  NotifyWrites(chunks);
  return true;
}

bool FakeCommDriver::GetOverlappedResult(drv::Handle h, drv::Overlapped* ov, std::uint32_t* done,
                                         bool wait) {
  std::uint64_t serial;
  {
    Lock lock(m_);
    FakeCall c;
    c.name = "GetOverlappedResult";
    c.handle = h;
    c.args = {wait ? 1u : 0u};
    if (!Enter(lock, c)) return false;
    serial = cleared_ + calls_.size() - 1;
  }
  // Like kernel32, the block alone tells the result; the handle is not consulted.
  if (wait) rt::WaitForSingleObject(ov->hEvent, rt::kInfinite);
  Lock lock(m_);
  std::uint32_t error = 0;
  if (ov->Internal == kStillPending) {
    error = drv::kErrorIoIncomplete;
  } else {
    if (done) *done = static_cast<std::uint32_t>(ov->InternalHigh);
    error = static_cast<std::uint32_t>(ov->Internal);
  }
  if (error == 0) return true;
  tLastError = error;
  // Mark the record unless the test cleared the log meanwhile.
  if (serial >= cleared_) {
    FakeCall& c = calls_[serial - cleared_];
    c.ok = false;
    c.error = error;
  }
  return false;
}

bool FakeCommDriver::ClearCommError(drv::Handle h, std::uint32_t* errors, drv::ComStat* stat) {
  Lock lock(m_);
  FakeCall c;
  c.name = "ClearCommError";
  c.handle = h;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (errors) *errors = d->errors;
  d->errors = 0;
  if (stat) {
    *stat = drv::ComStat{};
    stat->cbInQue = static_cast<std::uint32_t>(d->input.size());
    for (const PendingWrite& w : d->writes) stat->cbOutQue += w.count;
  }
  return true;
}

bool FakeCommDriver::GetCommModemStatus(drv::Handle h, std::uint32_t* status) {
  Lock lock(m_);
  FakeCall c;
  c.name = "GetCommModemStatus";
  c.handle = h;
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (d->gone) return Fail(d->goneError);
  *status = d->modem;
  return true;
}

bool FakeCommDriver::PurgeComm(drv::Handle h, std::uint32_t flags) {
  Lock lock(m_);
  FakeCall c;
  c.name = "PurgeComm";
  c.handle = h;
  c.args = {flags};
  if (!Enter(lock, c)) return false;
  Device* d = DeviceOf(h);
  if (!d) return Fail(drv::kErrorInvalidHandle);
  if (flags & drv::kPurgeTxAbort) {
    for (const PendingWrite& w : d->writes) Complete(w.ov, drv::kErrorOperationAborted, 0);
    d->writes.clear();
  }
  if (flags & drv::kPurgeRxAbort) {
    for (const PendingRead& r : d->reads) Complete(r.ov, drv::kErrorOperationAborted, r.got);
    d->reads.clear();
  }
  if (flags & drv::kPurgeRxClear) d->input.clear();
  return true;
}

std::uint32_t FakeCommDriver::GetLastError() {
  return tLastError;
}

// --- internals ------------------------------------------------------------------------------

bool FakeCommDriver::Enter(const Lock&, FakeCall call) {
  calls_.push_back(std::move(call));
  Changed();
  auto rule = failures_.find(calls_.back().name);
  if (rule == failures_.end()) return true;
  const std::uint32_t error = rule->second.error;
  if (!rule->second.always) failures_.erase(rule);
  return Fail(error);
}

// Marks the call just recorded as failed; always returns false so callers can return it.
bool FakeCommDriver::Fail(std::uint32_t error) {
  tLastError = error;
  calls_.back().ok = false;
  calls_.back().error = error;
  return false;
}

FakeCommDriver::Device* FakeCommDriver::DeviceOf(drv::Handle h) {
  if (h == drv::kInvalidHandle) return nullptr;
  for (auto& [name, d] : devices_) {
    if (d.handle == h) return &d;
  }
  return nullptr;
}

FakeCommDriver::Device* FakeCommDriver::OpenDevice() {
  auto it = devices_.find(current_);
  if (it == devices_.end() || it->second.handle == drv::kInvalidHandle || it->second.gone) {
    return nullptr;
  }
  return &it->second;
}

void FakeCommDriver::Complete(drv::Overlapped* ov, std::uint32_t error, std::uint32_t bytes) {
  ov->Internal = error;
  ov->InternalHigh = bytes;
  rt::SetEvent(ov->hEvent);
}

void FakeCommDriver::Raise(Device& d, std::uint32_t evMask) {
  const std::uint32_t events = evMask & d.mask;
  if (events == 0) return;
  if (d.wait.ov) {
    *d.wait.eventMask = events;
    Complete(d.wait.ov, 0, 0);
    d.wait = {};
  } else {
    d.keptEvents |= events;
  }
}

void FakeCommDriver::FillPendingReads(Device& d) {
  while (!d.reads.empty() && !d.input.empty()) {
    PendingRead& r = d.reads.front();
    const auto n =
        static_cast<std::uint32_t>(std::min<std::size_t>(r.count - r.got, d.input.size()));
    std::memcpy(r.buffer + r.got, d.input.data(), n);
    d.input.erase(0, n);
    r.got += n;
    if (r.got < r.count) break;
    Complete(r.ov, 0, r.got);
    d.reads.pop_front();
  }
}

std::string FakeCommDriver::FinishWrite(Device& d, const PendingWrite& w, std::uint32_t error) {
  if (error != 0) {
    Complete(w.ov, error, 0);
    return {};
  }
  std::string bytes(w.buffer, w.count);
  written_ += bytes;
  Complete(w.ov, 0, w.count);
  if (txEmptyOnWrite_ && d.writes.empty() && w.count != 0) Raise(d, drv::kEvTxEmpty);
  return bytes;
}

void FakeCommDriver::NotifyWrites(const Written_& chunks) {
  std::function<void(const std::string&)> hook;
  {
    Lock lock(m_);
    hook = onWrite_;
  }
  if (!hook) return;
  for (const std::string& bytes : chunks) {
    if (!bytes.empty()) hook(bytes);
  }
}

void FakeCommDriver::Changed() {
  ++generation_;
  changed_.notify_all();
}

}  // namespace fake
