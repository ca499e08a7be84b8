// The heap record that carries one overlapped read or write: the overlapped block with the
// transfer's own manual-reset completion event (signalled from birth, so a record with no
// transfer started reads as complete with 0 bytes), and the kind of transfer.
#pragma once

#include <cstdint>
#include <string>

#include "serial/driver/CommTypes.h"

enum TTransferKind : std::uint8_t { tkWrite = 0, tkRead = 1 };

struct TransferRecord {
  drv::Overlapped Overlapped;
  TTransferKind Kind;
  // The private copy BeginWriteString sends from; it lives as long as the record.
  std::string WriteCopy;
};

void NewTransferRecord(TransferRecord*& Rec);
void FreeTransferRecord(TransferRecord*& Rec);
// The code a failed transfer of this kind raises: tkWrite gives 2 (CError_WriteFailed), tkRead
// 3 (CError_ReadFailed).
int TransferErrorCode(TTransferKind kind);
