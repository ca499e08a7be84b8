// CRC-32 as Ethernet and zlib compute it (polynomial 04c11db7 taken reflected, edb88320; initial
// value and final xor ffffffff), the sum a boot console's `crc32` command prints.
#pragma once

#include <cstddef>
#include <cstdint>

namespace boxsim {

class Crc32 {
 public:
  // Feeds the next bytes; a range may be fed in any number of pieces.
  void Update(const std::uint8_t* data, std::size_t size);
  std::uint32_t Value() const { return ~state_; }

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

}  // namespace boxsim
