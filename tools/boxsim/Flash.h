// The simulated Box's flash: a file-backed image divided into equal sectors, each with a
// protection flag that starts set, as on the real board after reset.
//
// A fresh image is filled with a fixed pattern that never contains 0xFF, so after a run a
// checker can tell byte for byte which range was erased and that nothing else was touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace boxsim {

struct FlashGeometry {
  std::uint32_t base = 0xa1000000;
  std::uint32_t size = 16u << 20;
  std::uint32_t sectorSize = 64u << 10;

  std::uint32_t SectorCount() const { return size / sectorSize; }
  bool Contains(std::uint32_t address) const { return address >= base && address - base < size; }
};

// The byte a fresh image holds at an offset: never 0xFF, varies within and across sectors.
std::uint8_t PatternByte(std::uint32_t offset);

// Writes a fresh patterned image; returns an error text, empty on success.
std::string CreateImage(const std::string& path, const FlashGeometry& geometry);

class Flash {
 public:
  // Opens an existing image (its size must match) or, without a path, keeps the image in memory.
  // Returns an error text, empty on success.
  std::string Open(const std::string& path, const FlashGeometry& geometry);
  ~Flash();

  const FlashGeometry& Geometry() const { return geometry_; }
  std::uint32_t SectorOf(std::uint32_t address) const {
    return (address - geometry_.base) / geometry_.sectorSize;
  }
  std::uint32_t SectorStart(std::uint32_t sector) const {
    return geometry_.base + sector * geometry_.sectorSize;
  }
  bool Protected(std::uint32_t sector) const { return protected_[sector]; }
  void SetProtected(std::uint32_t sector, bool value) { protected_[sector] = value; }
  // Fills one sector with 0xFF, in the file at once; returns an error text, empty on success.
  std::string EraseSector(std::uint32_t sector);
  std::string Display() const { return display_; }
  void SetDisplay(const std::string& text) { display_ = text; }

 private:
  FlashGeometry geometry_;
  int fd_ = -1;
  std::vector<std::uint8_t> memory_;  // used when there is no file
  std::vector<bool> protected_;
  std::string display_;
};

struct VerifyResult {
  bool ok = false;
  std::string report;  // one line per finding, ending in a summary
};

// Checks an image: erasedFirst..erasedLast (inclusive) all 0xFF, every other byte equal to the
// fresh pattern. With noErase set the whole image must equal the pattern.
VerifyResult VerifyImage(const std::string& path, const FlashGeometry& geometry, bool noErase,
                         std::uint32_t erasedFirst, std::uint32_t erasedLast);

}  // namespace boxsim
