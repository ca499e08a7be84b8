// Overlapped transfers and the status queries. None of them tests Connected: they call the
// driver with whatever DeviceHandle holds, so on a closed port the driver's call fails and
// its error is raised.
#include "runtime/Event.h"
#include "serial/CportX1.h"
#include "serial/DriverWords.h"

namespace {

std::int32_t SystemCode(drv::CommDriver& driver) {
  return static_cast<std::int32_t>(driver.GetLastError());
}

// Frees a blocking transfer's record on every way out.
class RecordGuard {
 public:
  RecordGuard() { NewTransferRecord(rec_); }
  ~RecordGuard() { FreeTransferRecord(rec_); }
  RecordGuard(const RecordGuard&) = delete;
  RecordGuard& operator=(const RecordGuard&) = delete;
  TransferRecord*& Rec() { return rec_; }

 private:
  TransferRecord* rec_ = nullptr;
};

// Starts a read or write on Rec: the kind first, then the driver's call. A transfer that goes
// on after the call (997) counts as started; any other failure raises the kind's code.
template <typename StartCall>
int BeginTransfer(drv::CommDriver& driver, TransferRecord*& Rec, TTransferKind kind,
                  StartCall&& start) {
  // Without a record there is no event to complete on; refuse like WaitTransfer does.
  if (!Rec) throw EComPort(CError_InvalidAsync);
  Rec->Kind = kind;
  std::uint32_t done = 0;
  if (!start(&done, &Rec->Overlapped)) {
    const std::uint32_t error = driver.GetLastError();
    if (error != drv::kErrorIoPending) {
      throw EComPort(TransferErrorCode(kind), static_cast<std::int32_t>(error));
    }
  }
  return static_cast<int>(done);
}

}  // namespace

int TComX::BeginWrite(const void* Buffer, int Count, TransferRecord*& Rec) {
  return BeginTransfer(
      *driver_, Rec, tkWrite, [&](std::uint32_t* done, drv::Overlapped* overlapped) {
        return driver_->WriteFile(deviceHandle_, Buffer, static_cast<std::uint32_t>(Count), done,
                                  overlapped);
      });
}

int TComX::BeginWriteString(const std::string& Str, TransferRecord*& Rec) {
  if (!Rec) throw EComPort(CError_InvalidAsync);
  // The driver may send from the buffer after this returns; the caller's string may be gone.
  Rec->WriteCopy = Str;
  return BeginWrite(Rec->WriteCopy.data(), static_cast<int>(Rec->WriteCopy.size()), Rec);
}

int TComX::BeginRead(void* Buffer, int Count, TransferRecord*& Rec) {
  return BeginTransfer(
      *driver_, Rec, tkRead, [&](std::uint32_t* done, drv::Overlapped* overlapped) {
        return driver_->ReadFile(deviceHandle_, Buffer, static_cast<std::uint32_t>(Count), done,
                                 overlapped);
      });
}

int TComX::WaitTransfer(TransferRecord*& Rec) {
  if (!Rec) throw EComPort(CError_InvalidAsync);
  const std::uint32_t wait = rt::WaitForSingleObject(Rec->Overlapped.hEvent, rt::kInfinite);
  std::uint32_t done = 0;
  if (wait != rt::kWaitObject0 ||
      !driver_->GetOverlappedResult(deviceHandle_, &Rec->Overlapped, &done, false)) {
    // The error first: working out the code must not disturb it.
    const std::int32_t error = SystemCode(*driver_);
    throw EComPort(TransferErrorCode(Rec->Kind), error);
  }
  return static_cast<int>(done);
}

int TComX::Write(const void* Buffer, int Count) {
  RecordGuard record;
  BeginWrite(Buffer, Count, record.Rec());
  return WaitTransfer(record.Rec());
}

int TComX::WriteString(const std::string& Str) {
  RecordGuard record;
  BeginWriteString(Str, record.Rec());
  return WaitTransfer(record.Rec());
}

int TComX::Read(void* Buffer, int Count) {
  RecordGuard record;
  BeginRead(Buffer, Count, record.Rec());
  return WaitTransfer(record.Rec());
}

void TComX::PurgeBuffers() {
  // Aborts the pending transfers only; the queues are cleared by the watcher's last purge.
  if (!driver_->PurgeComm(deviceHandle_, drv::kPurgeTxAbort | drv::kPurgeRxAbort)) {
    throw EComPort(CError_PurgeFailed, SystemCode(*driver_));
  }
}

int TComX::BytesWaiting() {
  std::uint32_t errors = 0;
  drv::ComStat stat;
  if (!driver_->ClearCommError(deviceHandle_, &errors, &stat)) {
    throw EComPort(CError_ClearComFailed, SystemCode(*driver_));
  }
  return static_cast<int>(stat.cbInQue);
}

TLineSignals TComX::ModemSignals() {
  std::uint32_t status = 0;
  if (!driver_->GetCommModemStatus(deviceHandle_, &status)) {
    throw EComPort(CError_ModemStatFailed, SystemCode(*driver_));
  }
  return LineSignalsFrom(status);
}

TComErrors TComX::PendingErrors() {
  std::uint32_t errors = 0;
  drv::ComStat stat;
  if (!driver_->ClearCommError(deviceHandle_, &errors, &stat)) {
    throw EComPort(CError_ClearComFailed, SystemCode(*driver_));
  }
  return ComErrorsFrom(errors, parity_->Check());
}
