// The blocks and constants of the Windows serial interface, as plain value types.
//
// The layouts match kernel32's DCB, COMMTIMEOUTS, COMSTAT and OVERLAPPED field for field, so
// the Windows driver passes them straight through, and the POSIX engine reads the same fields.
// Names carry a k prefix because windows.h defines the published names as macros.
#pragma once

#include <cstdint>

#include "runtime/Event.h"

namespace drv {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

struct Dcb {
  std::uint32_t DCBlength = 0;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;  // the bit-field word: fBinary .. fDummy2
  std::uint16_t wReserved = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(Dcb) == 28);

// Flag-word bits of the DCB.
inline constexpr std::uint32_t kFBinary = 0x0001;
inline constexpr std::uint32_t kFParity = 0x0002;
inline constexpr std::uint32_t kFOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kFOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kFDtrControlMask = 0x0030;
inline constexpr int kFDtrControlShift = 4;
inline constexpr std::uint32_t kFDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kFTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kFOutX = 0x0100;
inline constexpr std::uint32_t kFInX = 0x0200;
inline constexpr std::uint32_t kFErrorChar = 0x0400;
inline constexpr std::uint32_t kFNull = 0x0800;
inline constexpr std::uint32_t kFRtsControlMask = 0x3000;
inline constexpr int kFRtsControlShift = 12;
inline constexpr std::uint32_t kFAbortOnError = 0x4000;

inline constexpr std::uint8_t kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3,
                              kSpaceParity = 4;
inline constexpr std::uint8_t kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2;
inline constexpr std::uint32_t kDtrControlDisable = 0, kDtrControlEnable = 1,
                               kDtrControlHandshake = 2;
inline constexpr std::uint32_t kRtsControlDisable = 0, kRtsControlEnable = 1,
                               kRtsControlHandshake = 2, kRtsControlToggle = 3;

struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};
inline constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

struct ComStat {
  std::uint32_t Flags = 0;  // fCtsHold .. fReserved
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

// The overlapped block. hEvent is a runtime event handle (a real event HANDLE on Windows).
struct Overlapped {
  std::uintptr_t Internal = 0;
  std::uintptr_t InternalHigh = 0;
  std::uint32_t Offset = 0;
  std::uint32_t OffsetHigh = 0;
  rt::EventHandle hEvent = nullptr;
};

// CreateFileA arguments.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;

// Event mask bits (SetCommMask, WaitCommEvent).
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;

// ClearCommError error bits.
inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCePto = 0x0200;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeDns = 0x0800;
inline constexpr std::uint32_t kCeOop = 0x1000;
inline constexpr std::uint32_t kCeMode = 0x8000;

// GetCommModemStatus bits.
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;

// PurgeComm flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

// Windows error numbers, used on every platform.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBadCommand = 22;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorIoIncomplete = 996;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorCounterTimeout = 1121;

}  // namespace drv
