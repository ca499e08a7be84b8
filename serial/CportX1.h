// TComX: a serial port component that owns one COM port.
//
// It holds the line, flow-control, timeout and buffer settings and carries each change to the
// driver at once while connected; opens and closes the device; performs overlapped reads and
// writes; and, while open, has a watcher thread deliver port events to handlers on the thread
// its owner chose. Every failure is an EComPort with the component's code and the system's.
//
// Every value setter does nothing when the value is unchanged; otherwise it stores the value
// and re-applies its group (line, timeouts or buffer) while connected. Writing one of the
// object-valued properties always copies and re-applies. The component takes no locks: the
// watcher is blocked while handlers run on the main thread, and starts its next wait only
// after the dispatch has returned. Close must never run inside a port event handler.
//
// A handler that raises, or a device that goes away under the watcher, ends the watching: the
// failure is reported once on the main thread (rt::ReportBackgroundError), after the dispatch,
// and the port stays open until it is closed; the next Open watches again.
//
// Where the component lives:
//   CportX1.cpp        construction, Open and Close, the setters, LineSettings and the three
//                      apply operations
//   ComTransfers.cpp   BeginWrite, BeginWriteString, BeginRead, WaitTransfer, Write,
//                      WriteString, Read, PurgeBuffers and the status queries BytesWaiting,
//                      ModemSignals, PendingErrors
//   ComEvents.cpp      the handler callers Fire*, and HandleSyncMessage for smWindowSync
//   ComSettings.*      the settings objects; SettingsValues.h their values
//   DcbBuilder.*       the driver blocks built from the values
//   ComThread.*        TComThread, the watcher; EventRoutes.h the order events are dispatched in
//   TransferRecord.*   the record one overlapped transfer is carried in
//   DriverWords.*      the driver's error and modem words to TComErrors and TLineSignals
//   ComErrors.*        EComPort and its messages; ComTypes.h the enumerations and sets
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Sys.h"
#include "serial/ComErrors.h"
#include "serial/ComSettings.h"
#include "serial/ComTypes.h"
#include "serial/TransferRecord.h"
#include "serial/driver/CommDriver.h"

namespace rt {
class HiddenWindow;
struct Message;
}  // namespace rt

class TComThread;
class TComX;

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TRxCharEvent = std::function<void(TObject* Sender, int Count)>;
using TSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;
using TErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;

class TComX : public TObject {
 public:
  // The platform's driver unless a test hands in another; it must outlive the port.
  explicit TComX(drv::CommDriver* driver = nullptr);
  ~TComX() override;  // Close, then the settings objects
  TComX(const TComX&) = delete;
  TComX& operator=(const TComX&) = delete;
  const char* ClassName() const override { return "TComX"; }

  // Lifecycle.
  void Open();
  void Close();
  bool Connected() const { return connected_; }
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplySettings();

  // Settings the port holds itself.
  TBaudRate BaudRate() const { return line_.BaudRate; }
  void SetBaudRate(TBaudRate value);
  TPortType Port() const { return port_; }
  void SetPort(TPortType value);
  TStopBits StopBits() const { return line_.StopBits; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return line_.DataBits; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return line_.DiscardNull; }
  void SetDiscardNull(bool value);
  std::uint8_t EventChar() const { return line_.EventChar; }
  void SetEventChar(std::uint8_t value);
  TEvents Events() const { return events_; }
  void SetEvents(TEvents value) { events_ = value; }  // read at the next Open only
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);

  // Object-valued settings: always the port's own objects. Writing copies the given object's
  // values in and re-applies the group; nullptr fails with the assignment error.
  TComParity& Parity() { return *parity_; }
  const TComParity& Parity() const { return *parity_; }
  void SetParity(const TPersistent* value);
  TComFlowControl& FlowControl() { return *flowControl_; }
  const TComFlowControl& FlowControl() const { return *flowControl_; }
  void SetFlowControl(const TPersistent* value);
  TComTimeouts& Timeouts() { return *timeouts_; }
  const TComTimeouts& Timeouts() const { return *timeouts_; }
  void SetTimeouts(const TPersistent* value);
  TComBuffer& Buffer() { return *buffer_; }
  const TComBuffer& Buffer() const { return *buffer_; }
  void SetBuffer(const TPersistent* value);

  // "COM1".."COM8"; empty for a value outside the enumeration.
  std::string DeviceName() const;

  // What the line group's block is built from, as it stands now.
  LineValues LineSettings() const;

  // Apply operations: each does nothing unless connected.
  void ApplyLineSettings();
  void ApplyTimeoutSettings();
  void ApplyBufferSettings();

  // Transfers.
  int BeginWrite(const void* Buffer, int Count, TransferRecord*& Rec);
  int BeginWriteString(const std::string& Str, TransferRecord*& Rec);
  int BeginRead(void* Buffer, int Count, TransferRecord*& Rec);
  int WaitTransfer(TransferRecord*& Rec);
  int Write(const void* Buffer, int Count);
  int WriteString(const std::string& Str);
  int Read(void* Buffer, int Count);
  void PurgeBuffers();

  // Status queries.
  int BytesWaiting();
  TLineSignals ModemSignals();
  TComErrors PendingErrors();

  // Event handlers; an empty function is unassigned.
  TRxCharEvent OnRxChar;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TSignalEvent OnCTSChange;
  TSignalEvent OnDSRChange;
  TSignalEvent OnRLSDChange;
  TErrorEvent OnError;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TNotifyEvent OnRx80Full;

  // Used by the watcher.
  void FireRxChar();
  void FireTxEmpty();
  void FireBreak();
  void FireRing();
  void FireCTSChange();
  void FireDSRChange();
  void FireRxFlag();
  void FireRLSDChange();
  void FireError();
  void FireRx80Full();
  void HandleSyncMessage(rt::Message& Message);

  // State visible to the watcher and to tests.
  drv::Handle DeviceHandle() const { return deviceHandle_; }
  drv::CommDriver& Driver() const { return *driver_; }
  rt::HiddenWindow* SyncWindow() const { return syncWindow_.get(); }
  bool ThreadStarted() const { return threadStarted_; }
  TComThread* EventThread() const { return eventThread_.get(); }

 private:
  friend class TComThread;
  // Closes what an open port holds even when its purge fails; the destructor's last resort.
  void ForceClose() noexcept;
  // A handler's exception caught in the hidden window's procedure (which cannot pass it on),
  // handed to the watcher once SendMessageA has returned.
  std::exception_ptr TakeSyncMessageFailure();

  drv::CommDriver* driver_;
  std::unique_ptr<TComThread> eventThread_;
  bool threadStarted_ = false;
  drv::Handle deviceHandle_ = drv::kInvalidHandle;
  std::unique_ptr<rt::HiddenWindow> syncWindow_;
  bool connected_ = false;
  PortLineValues line_;
  TPortType port_ = COM1;
  TEvents events_ = kAllEvents;
  std::unique_ptr<TComBuffer> buffer_;
  std::unique_ptr<TComParity> parity_;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<TComFlowControl> flowControl_;
  TSyncMethod syncMethod_ = smThreadSync;
  std::exception_ptr syncMessageFailure_;
};
