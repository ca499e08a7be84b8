#include "serial/ComErrors.h"

#include <array>

namespace {

// Indexed by code; there is no entry 0.
constexpr std::array<const char*, 15> kMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
};

// The joined text " ... (win error code: %d)" is a format with the system code as its one
// argument. No message holds a '%' of its own, so putting the decimal number in place of the
// %d gives exactly what formatting it would, without handing a non-literal format to printf.
std::string WithSystemCode(int errorCode, std::int32_t systemCode) {
  return std::string(EComPort::MessageFor(errorCode)) +
         " (win error code: " + std::to_string(systemCode) + ")";
}

}  // namespace

EComPort::EComPort(int errorCode, std::int32_t systemCode)
    : Exception(WithSystemCode(errorCode, systemCode)),
      systemErrorCode_(systemCode),
      errorCode_(errorCode) {}

EComPort::EComPort(int errorCode)
    : Exception(MessageFor(errorCode)), systemErrorCode_(-1), errorCode_(errorCode) {}

const char* EComPort::MessageFor(int errorCode) {
  if (errorCode < 1 || errorCode >= static_cast<int>(kMessages.size())) return "";
  return kMessages[static_cast<std::size_t>(errorCode)];
}
