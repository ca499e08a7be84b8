// The tty calls whose failures and stalls the engine must handle but a pseudo-terminal never
// shows: reading the line settings at open (a device node without a UART fails it with EIO),
// asking how many bytes the kernel still has to send (a pty always answers 0), whether the
// device is a pseudo-terminal at all (a test makes a pty mark line errors as a real port does),
// closing it (which on a port whose output a line holds can wait the kernel's closing_wait,
// 30 s by default), and reading it (a read of an empty pseudo-terminal first waits for the
// kernel's buffer worker, so tests count the reads that find nothing).
//
// Everything else goes to the system directly. Tests replace an entry to provoke what only
// real hardware does; they do so only while no port is open, since engine threads call these
// without further synchronisation.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstddef>

namespace drv::posix {

struct TtyCalls {
  // tcgetattr: 0, or -1 with errno set.
  int (*getAttributes)(int fd, termios* t);
  // TIOCOUTQ: 0 with *queued set, or -1 with errno set.
  int (*outputQueued)(int fd, int* queued);
  // Whether fd is the slave side of a pseudo-terminal.
  bool (*isPseudoTerminal)(int fd);
  // close: 0, or -1 with errno set.
  int (*close)(int fd);
  // read: the count, 0 at the end, or -1 with errno set.
  ssize_t (*read)(int fd, void* buffer, std::size_t n);
};

// The calls in use, the system's unless a test has replaced them.
TtyCalls& Tty();
// The system's own calls, for a test to restore.
TtyCalls SystemTtyCalls();

}  // namespace drv::posix
