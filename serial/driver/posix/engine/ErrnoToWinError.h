// The one place where the engine turns errno values into the Windows error numbers that the
// component reports ("win error code: %d").
#pragma once

#include <cstdint>

namespace drv::posix {

// What the engine was doing when errno was set; opening a device and talking to an open one
// give some errno values different meanings (ENXIO: no such device vs. device gone).
enum class ErrnoContext { kOpen, kOpenLock, kIo };

std::uint32_t WinErrorFromErrno(int err, ErrnoContext context);

// The Windows numbers of what can go wrong reaching a serial server.
inline constexpr std::uint32_t kErrorNetNameDeleted = 64;
inline constexpr std::uint32_t kErrorBadNetName = 67;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorConnectionRefused = 1225;
inline constexpr std::uint32_t kErrorNetworkUnreachable = 1231;
inline constexpr std::uint32_t kErrorHostUnreachable = 1232;

// A failed getaddrinfo: its status, and errno for EAI_SYSTEM.
std::uint32_t WinErrorFromResolver(int status, int err);

// Errors a tty without modem lines (a pseudo-terminal) gives for modem-line ioctls.
bool IsNoModemLinesErrno(int err);

}  // namespace drv::posix
