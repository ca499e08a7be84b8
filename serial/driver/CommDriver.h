// The one boundary between the serial component and the operating system's serial calls.
//
// Each operation mirrors the kernel32 call of the same name: same argument meaning, same
// result (true for success), and on failure a Windows error number that GetLastError returns
// on the calling thread. The Windows driver passes straight through; the POSIX engine gives a
// tty the Windows behaviour; tests hand TComX a fake that records and fails calls.
#pragma once

#include <cstdint>
#include <string>

#include "serial/driver/CommTypes.h"

namespace drv {

class CommDriver {
 public:
  virtual ~CommDriver() = default;

  virtual Handle CreateFileA(const char* name, std::uint32_t desiredAccess,
                             std::uint32_t shareMode, std::uint32_t creationDisposition,
                             std::uint32_t flagsAndAttributes) = 0;
  virtual bool CloseHandle(Handle h) = 0;
  virtual bool SetCommState(Handle h, const Dcb& dcb) = 0;
  virtual bool SetCommTimeouts(Handle h, const CommTimeouts& timeouts) = 0;
  virtual bool SetupComm(Handle h, std::uint32_t inQueue, std::uint32_t outQueue) = 0;
  virtual bool SetCommMask(Handle h, std::uint32_t mask) = 0;
  virtual bool WaitCommEvent(Handle h, std::uint32_t* eventMask, Overlapped* ov) = 0;
  virtual bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t* done,
                        Overlapped* ov) = 0;
  virtual bool WriteFile(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done,
                         Overlapped* ov) = 0;
  virtual bool GetOverlappedResult(Handle h, Overlapped* ov, std::uint32_t* done, bool wait) = 0;
  virtual bool ClearCommError(Handle h, std::uint32_t* errors, ComStat* stat) = 0;
  virtual bool GetCommModemStatus(Handle h, std::uint32_t* status) = 0;
  virtual bool PurgeComm(Handle h, std::uint32_t flags) = 0;
  virtual std::uint32_t GetLastError() = 0;
};

// The platform's driver: kernel32 on Windows, the termios engine elsewhere. Lives for the
// whole program.
CommDriver& DefaultCommDriver();

}  // namespace drv
