// libserialport refuses a pseudo-terminal twice: sp_get_port_by_name looks the port up under
// /sys/class/tty/<name>, where a pty has no entry, and sp_open reads and sets the modem lines
// (TIOCMGET, TIOCMBIS, TIOCMBIC), which a pty does not have. bench_peer_libserialport links the
// library's static archive with -Wl,--wrap for the three calls involved, so only the library's
// calls (and none of the C library's own) come through here. For the one pty accepted below,
// the sysfs entry is reported as a link to a virtual device (a port that is neither USB nor
// Bluetooth: no further lookups), and the modem-line requests the kernel refuses are answered
// from a word kept here. Every other call, and everything the library does with the bytes
// (termios, poll, read, write), goes to the kernel untouched.
#pragma once

#include <string>

namespace bench {

// The slave's path, e.g. /dev/pts/7; before the library's first look at it.
void ShimAcceptPty(const std::string& slavePath);

}  // namespace bench
