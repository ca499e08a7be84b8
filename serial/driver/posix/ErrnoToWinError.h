// The one place where the engine turns errno values into the Windows error numbers that the
// component reports ("win error code: %d").
#pragma once

#include <cstdint>

namespace drv::posix {

// What the engine was doing when errno was set; opening a device and talking to an open one
// give some errno values different meanings (ENXIO: no such device vs. device gone).
enum class ErrnoContext { kOpen, kOpenLock, kIo };

std::uint32_t WinErrorFromErrno(int err, ErrnoContext context);

// Errors a tty without modem lines (a pseudo-terminal) gives for modem-line ioctls.
bool IsNoModemLinesErrno(int err);

}  // namespace drv::posix
