// Deliberately without <termios.h>: see Termios2.h.
#include "serial/driver/posix/tty/Termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace drv::posix {

static_assert(sizeof(struct termios2) <= sizeof(SavedLineState::bytes));

int SaveLineState(int fd, SavedLineState& state) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  std::memcpy(state.bytes, &t, sizeof t);
  state.valid = true;
  return 0;
}

int RestoreLineState(int fd, const SavedLineState& state) {
  if (!state.valid) return 0;
  struct termios2 t;
  std::memcpy(&t, state.bytes, sizeof t);
  return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

int SetArbitraryRate(int fd, std::uint32_t bitsPerSecond) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = bitsPerSecond;
  t.c_ospeed = bitsPerSecond;
  if (ioctl(fd, TCSETS2, &t) != 0) return errno;
  // Drivers round to what their divisor allows; a rate that ends up far off (or zero) was
  // not accepted.
  struct termios2 check;
  if (ioctl(fd, TCGETS2, &check) != 0) return errno;
  const std::uint64_t got = check.c_ospeed;
  const std::uint64_t want = bitsPerSecond;
  if (got * 100 < want * 97 || got * 100 > want * 103) return EINVAL;
  return 0;
}

int ReadRates(int fd, std::uint32_t& inputRate, std::uint32_t& outputRate) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return errno;
  inputRate = t.c_ispeed;
  outputRate = t.c_ospeed;
  return 0;
}

}  // namespace drv::posix
