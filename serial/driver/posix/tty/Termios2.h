// The kernel's termios2 interface: line rates without a Bxxx constant (14400, 56000) through
// BOTHER, and saving/restoring a tty's complete line state including such rates.
//
// Kept apart because <asm/termbits.h>, which declares struct termios2, redefines struct termios
// and the flag macros of glibc's <termios.h>; no translation unit can include both. Callers see
// only this header, which includes neither.
#pragma once

#include <cstdint>

namespace drv::posix {

// Opaque copy of a tty's struct termios2.
struct SavedLineState {
  alignas(8) unsigned char bytes[64] = {};
  bool valid = false;
};

// Each returns 0 or an errno value.
int SaveLineState(int fd, SavedLineState& state);
int RestoreLineState(int fd, const SavedLineState& state);
// Sets input and output rate to any rate in bits per second, keeping the rest of the line.
int SetArbitraryRate(int fd, std::uint32_t bitsPerSecond);
// The rates the tty reports (for a Bxxx rate too), in bits per second.
int ReadRates(int fd, std::uint32_t& inputRate, std::uint32_t& outputRate);

}  // namespace drv::posix
