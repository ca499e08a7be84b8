// The Windows driver: every operation is the kernel32 call of the same name. The value blocks
// are laid out like kernel32's, which the assertions below hold to, so they are copied or
// passed through unchanged.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "serial/driver/CommDriver.h"
#include "serial/driver/DeviceMap.h"

namespace drv {
namespace {

static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
static_assert(sizeof(Handle) == sizeof(HANDLE));
// INVALID_HANDLE_VALUE is (HANDLE)-1, the same bits as kInvalidHandle: no conversion needed.

static_assert(sizeof(Dcb) == sizeof(DCB));
static_assert(offsetof(Dcb, DCBlength) == offsetof(DCB, DCBlength));
static_assert(offsetof(Dcb, BaudRate) == offsetof(DCB, BaudRate));
static_assert(offsetof(Dcb, wReserved) == offsetof(DCB, wReserved));
static_assert(offsetof(Dcb, XonLim) == offsetof(DCB, XonLim));
static_assert(offsetof(Dcb, XoffLim) == offsetof(DCB, XoffLim));
static_assert(offsetof(Dcb, ByteSize) == offsetof(DCB, ByteSize));
static_assert(offsetof(Dcb, Parity) == offsetof(DCB, Parity));
static_assert(offsetof(Dcb, StopBits) == offsetof(DCB, StopBits));
static_assert(offsetof(Dcb, XonChar) == offsetof(DCB, XonChar));
static_assert(offsetof(Dcb, XoffChar) == offsetof(DCB, XoffChar));
static_assert(offsetof(Dcb, ErrorChar) == offsetof(DCB, ErrorChar));
static_assert(offsetof(Dcb, EofChar) == offsetof(DCB, EofChar));
static_assert(offsetof(Dcb, EvtChar) == offsetof(DCB, EvtChar));
static_assert(offsetof(Dcb, wReserved1) == offsetof(DCB, wReserved1));

static_assert(sizeof(CommTimeouts) == sizeof(COMMTIMEOUTS));
static_assert(offsetof(CommTimeouts, ReadIntervalTimeout) ==
              offsetof(COMMTIMEOUTS, ReadIntervalTimeout));
static_assert(offsetof(CommTimeouts, ReadTotalTimeoutMultiplier) ==
              offsetof(COMMTIMEOUTS, ReadTotalTimeoutMultiplier));
static_assert(offsetof(CommTimeouts, ReadTotalTimeoutConstant) ==
              offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant));
static_assert(offsetof(CommTimeouts, WriteTotalTimeoutMultiplier) ==
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutMultiplier));
static_assert(offsetof(CommTimeouts, WriteTotalTimeoutConstant) ==
              offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant));

static_assert(sizeof(ComStat) == sizeof(COMSTAT));
static_assert(offsetof(ComStat, cbInQue) == offsetof(COMSTAT, cbInQue));
static_assert(offsetof(ComStat, cbOutQue) == offsetof(COMSTAT, cbOutQue));

static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, Internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(Overlapped, InternalHigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(Overlapped, Offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(Overlapped, OffsetHigh) == offsetof(OVERLAPPED, OffsetHigh));
static_assert(offsetof(Overlapped, hEvent) == offsetof(OVERLAPPED, hEvent));

HANDLE Native(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
// The kernel fills the block (and a wait's event mask) when the transfer completes, maybe
// long after the call returned: it must be the caller's own block, not a copy.
OVERLAPPED* Native(Overlapped* ov) {
  return reinterpret_cast<OVERLAPPED*>(ov);
}

class Win32CommDriver final : public CommDriver {
 public:
  Handle CreateFileA(const char* name, std::uint32_t desiredAccess, std::uint32_t shareMode,
                     std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) override {
    const std::string device = ResolveDeviceName(name ? name : "");
    return reinterpret_cast<Handle>(::CreateFileA(device.c_str(), desiredAccess, shareMode, nullptr,
                                                  creationDisposition, flagsAndAttributes,
                                                  nullptr));
  }

  bool CloseHandle(Handle h) override { return ::CloseHandle(Native(h)) != FALSE; }

  bool SetCommState(Handle h, const Dcb& dcb) override {
    DCB native;
    std::memcpy(&native, &dcb, sizeof native);
    return ::SetCommState(Native(h), &native) != FALSE;
  }

  bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) override {
    COMMTIMEOUTS native;
    std::memcpy(&native, &timeouts, sizeof native);
    return ::SetCommTimeouts(Native(h), &native) != FALSE;
  }

  bool SetupComm(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) override {
    return ::SetupComm(Native(h), inQueue, outQueue) != FALSE;
  }

  bool SetCommMask(Handle h, std::uint32_t mask) override {
    return ::SetCommMask(Native(h), mask) != FALSE;
  }

  bool WaitCommEvent(Handle h, std::uint32_t* eventMask, Overlapped* ov) override {
    return ::WaitCommEvent(Native(h), reinterpret_cast<DWORD*>(eventMask), Native(ov)) != FALSE;
  }

  bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t* done,
                Overlapped* ov) override {
    DWORD n = 0;
    const bool ok = ::ReadFile(Native(h), buffer, count, &n, Native(ov)) != FALSE;
    if (done) *done = n;
    return ok;
  }

  bool WriteFile(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done,
                 Overlapped* ov) override {
    DWORD n = 0;
    const bool ok = ::WriteFile(Native(h), buffer, count, &n, Native(ov)) != FALSE;
    if (done) *done = n;
    return ok;
  }

  bool GetOverlappedResult(Handle h, Overlapped* ov, std::uint32_t* done, bool wait) override {
    DWORD n = 0;
    const bool ok = ::GetOverlappedResult(Native(h), Native(ov), &n, wait) != FALSE;
    if (done) *done = n;
    return ok;
  }

  bool ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) override {
    DWORD nativeErrors = 0;
    COMSTAT nativeStat{};
    const bool ok = ::ClearCommError(Native(h), &nativeErrors, &nativeStat) != FALSE;
    if (errors) *errors = nativeErrors;
    if (stat) std::memcpy(static_cast<void*>(stat), &nativeStat, sizeof nativeStat);
    return ok;
  }

  bool GetCommModemStatus(Handle h, std::uint32_t* status) override {
    DWORD native = 0;
    const bool ok = ::GetCommModemStatus(Native(h), &native) != FALSE;
    if (status) *status = native;
    return ok;
  }

  bool PurgeComm(Handle h, std::uint32_t flags) override {
    return ::PurgeComm(Native(h), flags) != FALSE;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }
};

}  // namespace

CommDriver& DefaultCommDriver() {
  static Win32CommDriver driver;
  return driver;
}

}  // namespace drv
