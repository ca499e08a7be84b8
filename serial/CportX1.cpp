// TComX: construction, settings and the open/close lifecycle.
#include "serial/CportX1.h"

#include "runtime/HiddenWindow.h"
#include "serial/ComThread.h"
#include "serial/DcbBuilder.h"

namespace {

std::int32_t SystemCode(drv::CommDriver& driver) {
  return static_cast<std::int32_t>(driver.GetLastError());
}

}  // namespace

TComX::TComX(drv::CommDriver* driver) : driver_(driver ? driver : &drv::DefaultCommDriver()) {
  // Straight into the fields: construction makes no driver call. A change to one of the
  // objects re-applies its group on this port.
  parity_ = std::make_unique<TComParity>(OwnerLink{this, [this] { ApplyLineSettings(); }});
  flowControl_ =
      std::make_unique<TComFlowControl>(OwnerLink{this, [this] { ApplyLineSettings(); }});
  timeouts_ = std::make_unique<TComTimeouts>(OwnerLink{this, [this] { ApplyTimeoutSettings(); }});
  buffer_ = std::make_unique<TComBuffer>(OwnerLink{this, [this] { ApplyBufferSettings(); }});
}

TComX::~TComX() {
  try {
    Close();
  } catch (...) {
    // The purge was refused. The watcher refers to this port, so it must end before the port
    // does, whatever the driver says.
    ForceClose();
  }
  buffer_.reset();
  flowControl_.reset();
  timeouts_.reset();
  parity_.reset();
}

void TComX::ForceClose() noexcept {
  eventThread_.reset();
  syncWindow_.reset();
  CloseDevice();
  connected_ = false;
}

// --- lifecycle ------------------------------------------------------------------------------

void TComX::OpenDevice() {
  const std::string name = DeviceName();
  deviceHandle_ = driver_->CreateFileA(name.c_str(), drv::kGenericRead | drv::kGenericWrite, 0,
                                       drv::kOpenExisting, drv::kFileFlagOverlapped);
  if (deviceHandle_ == drv::kInvalidHandle) throw EComPort(CError_OpenFailed, SystemCode(*driver_));
}

void TComX::CloseDevice() {
  if (deviceHandle_ != drv::kInvalidHandle) driver_->CloseHandle(deviceHandle_);
  deviceHandle_ = drv::kInvalidHandle;
}

void TComX::ApplySettings() {
  ApplyLineSettings();
  ApplyTimeoutSettings();
  ApplyBufferSettings();
}

void TComX::Open() {
  if (connected_) return;
  OpenDevice();
  // Before the settings: the apply operations do nothing on a port that is not connected.
  connected_ = true;
  try {
    ApplySettings();
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  if (events_.Empty()) {
    threadStarted_ = false;
  } else {
    try {
      // The window must exist before the watcher can send to it.
      if (syncMethod_ == smWindowSync) {
        syncWindow_ = std::make_unique<rt::HiddenWindow>(
            [this](rt::Message& message) { HandleSyncMessage(message); });
      }
      eventThread_ = std::make_unique<TComThread>(this);
    } catch (...) {
      // No watcher could be started (the system had no thread to give): an open port that
      // nobody watches would wait for events for ever, so the port goes back to closed.
      syncWindow_.reset();
      threadStarted_ = false;
      CloseDevice();
      connected_ = false;
      throw;
    }
    threadStarted_ = true;
  }
  if (OnOpen) OnOpen(this);
}

void TComX::Close() {
  if (!connected_) return;
  PurgeBuffers();
  if (threadStarted_) {
    // Waits for the watcher's end while serving the calls it hands over, so a dispatch under
    // way completes; only then may the window it sends to go.
    eventThread_.reset();
    if (syncMethod_ == smWindowSync) syncWindow_.reset();
  }
  CloseDevice();
  connected_ = false;
  if (OnClose) OnClose(this);
}

// --- settings the port holds itself ---------------------------------------------------------

void TComX::SetBaudRate(TBaudRate value) {
  if (value == line_.BaudRate) return;
  line_.BaudRate = value;
  ApplyLineSettings();
}

void TComX::SetPort(TPortType value) {
  if (value == port_) return;
  port_ = value;
  if (!connected_) return;
  // If the purge of this Close is refused, Open is not reached: the port stays on the
  // device it had.
  Close();
  Open();
}

void TComX::SetStopBits(TStopBits value) {
  if (value == line_.StopBits) return;
  line_.StopBits = value;
  ApplyLineSettings();
}

void TComX::SetDataBits(TDataBits value) {
  if (value == line_.DataBits) return;
  line_.DataBits = value;
  ApplyLineSettings();
}

void TComX::SetDiscardNull(bool value) {
  if (value == line_.DiscardNull) return;
  line_.DiscardNull = value;
  ApplyLineSettings();
}

void TComX::SetEventChar(std::uint8_t value) {
  if (value == line_.EventChar) return;
  line_.EventChar = value;
  ApplyLineSettings();
}

void TComX::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  // The hidden window must be released under the method it was allocated for.
  if (connected_) throw EComPort(CError_SyncMeth);
  syncMethod_ = value;
}

void TComX::SetParity(const TPersistent* value) {
  if (!value) ThrowAssignError(nullptr, *parity_);
  value->CopyTo(*parity_);
  ApplyLineSettings();
}

void TComX::SetFlowControl(const TPersistent* value) {
  if (!value) ThrowAssignError(nullptr, *flowControl_);
  value->CopyTo(*flowControl_);
  ApplyLineSettings();
}

void TComX::SetTimeouts(const TPersistent* value) {
  if (!value) ThrowAssignError(nullptr, *timeouts_);
  value->CopyTo(*timeouts_);
  ApplyTimeoutSettings();
}

void TComX::SetBuffer(const TPersistent* value) {
  if (!value) ThrowAssignError(nullptr, *buffer_);
  value->CopyTo(*buffer_);
  ApplyBufferSettings();
}

std::string TComX::DeviceName() const {
  if (port_ > COM8) return {};
  return "COM" + std::to_string(static_cast<int>(port_) + 1);
}

LineValues TComX::LineSettings() const {
  LineValues line;
  static_cast<PortLineValues&>(line) = line_;
  line.FlowControl = flowControl_->Values();
  line.Parity = parity_->Values();
  line.InputSize = buffer_->InputSize();
  return line;
}

// --- apply operations -----------------------------------------------------------------------

void TComX::ApplyLineSettings() {
  if (!connected_) return;
  if (!driver_->SetCommState(deviceHandle_, BuildDcb(LineSettings()))) {
    throw EComPort(CError_SetStateFailed, SystemCode(*driver_));
  }
}

void TComX::ApplyTimeoutSettings() {
  if (!connected_) return;
  if (!driver_->SetCommTimeouts(deviceHandle_, BuildCommTimeouts(timeouts_->Values()))) {
    throw EComPort(CError_TimeoutsFailed, SystemCode(*driver_));
  }
}

void TComX::ApplyBufferSettings() {
  if (!connected_) return;
  if (!driver_->SetupComm(deviceHandle_, buffer_->InputSize(), buffer_->OutputSize())) {
    throw EComPort(CError_SetupComFailed, SystemCode(*driver_));
  }
}
