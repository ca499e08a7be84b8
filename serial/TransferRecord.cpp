#include "serial/TransferRecord.h"

#include "runtime/Event.h"
#include "serial/ComErrors.h"

void NewTransferRecord(TransferRecord*& Rec) {
  Rec = new TransferRecord{};
  // Signalled from birth: a record on which no transfer was started reads as a completed
  // transfer of 0 bytes.
  Rec->Overlapped.hEvent = rt::CreateEventA(true, true);
}

void FreeTransferRecord(TransferRecord*& Rec) {
  if (!Rec) return;
  rt::CloseEvent(Rec->Overlapped.hEvent);
  delete Rec;
  Rec = nullptr;
}

int TransferErrorCode(TTransferKind kind) {
  return kind == tkWrite ? CError_WriteFailed : CError_ReadFailed;
}
