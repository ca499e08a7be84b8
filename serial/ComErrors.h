// EComPort: the one exception of the serial component. ErrorCode 1..14 selects a fixed
// message; SystemErrorCode is the OS error read right after the failing call, or -1.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Sys.h"

// Component codes, named for readability; the numbers are what callers see.
enum : int {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_InvalidAsync = 4,
  CError_PurgeFailed = 5,
  CError_AsyncCheck = 6,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_TransmitFailed = 13,
  CError_SyncMeth = 14,
};

class EComPort : public Exception {
 public:
  // Message: the code's text joined with " (win error code: %d)", formatted with systemCode.
  EComPort(int errorCode, std::int32_t systemCode);
  // Message: the code's text alone; SystemErrorCode is -1.
  explicit EComPort(int errorCode);

  std::int32_t SystemErrorCode() const { return systemErrorCode_; }
  int ErrorCode() const { return errorCode_; }

  // The fixed message for code 1..14 (empty outside).
  static const char* MessageFor(int errorCode);

 private:
  std::int32_t systemErrorCode_;
  int errorCode_;
};
