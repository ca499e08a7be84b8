#include "serial/driver/posix/engine/ErrnoToWinError.h"

#include <netdb.h>

#include <cerrno>

#include "serial/driver/CommTypes.h"

namespace drv::posix {

std::uint32_t WinErrorFromErrno(int err, ErrnoContext context) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
    case ENODEV:
      return kErrorFileNotFound;
    case ENXIO:
      // A device node without its device behind it is "not found" when opening; once open,
      // the device has vanished.
      return context == ErrnoContext::kIo ? kErrorDeviceNotConnected : kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
      // Another opener holds the device: Windows reports a port opened without sharing as
      // access denied, not as a sharing violation.
      return kErrorAccessDenied;
    case ENOTTY:
      // Opening something that is no serial device.
      return kErrorNotSupported;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOMEM:
    case ENOSPC:
    case EMFILE:
    case ENFILE:
      return kErrorNotEnoughMemory;
    case EIO:
      // While opening, a device node with nothing behind it: a /dev/ttyS* without a UART
      // opens, then fails its first termios call. Once open, a hung-up tty: adapter pulled,
      // or the other side of a pseudo-terminal closed.
      return context == ErrnoContext::kIo ? kErrorDeviceNotConnected : kErrorFileNotFound;
    case EPIPE:
      // Writing to a tty whose other side has gone.
      return kErrorDeviceNotConnected;
    case ECONNREFUSED:
      return kErrorConnectionRefused;
    case ENETUNREACH:
    case ENETDOWN:
      return kErrorNetworkUnreachable;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kErrorHostUnreachable;
    case ETIMEDOUT:
      // Connecting: no answer in time. Once connected: the server or the network has gone
      // silent for longer than the connection's own limits, which is the device going away.
      return context == ErrnoContext::kIo ? kErrorDeviceNotConnected : kErrorSemTimeout;
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
      return context == ErrnoContext::kIo ? kErrorDeviceNotConnected : kErrorNetNameDeleted;
    default:
      return kErrorGenFailure;
  }
}

std::uint32_t WinErrorFromResolver(int status, int err) {
  switch (status) {
    case 0:
      return kErrorSuccess;
    case EAI_MEMORY:
      return kErrorNotEnoughMemory;
    case EAI_SYSTEM:
      return WinErrorFromErrno(err, ErrnoContext::kOpen);
    default:
      // No such name, no address for it, or no name server that could say.
      return kErrorBadNetName;
  }
}

bool IsNoModemLinesErrno(int err) {
  return err == ENOTTY || err == EINVAL || err == ENOSYS;
}

}  // namespace drv::posix
