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
  // Clearing the flag of a sector whose protection is stuck does nothing.
  void SetProtected(std::uint32_t sector, bool value) {
    if (value || !stuckProtected_[sector]) protected_[sector] = value;
  }
  // Fills one sector with 0xFF, in the file at once; returns an error text, empty on success.
  // A write-protected chip keeps the sector as it was, and a stuck byte keeps its pattern value,
  // without a word: the chip reports no failure.
  std::string EraseSector(std::uint32_t sector);
  // Copies `size` bytes from `offset` (from the flash's first byte) into `out`; returns an error
  // text, empty on success.
  std::string Read(std::uint32_t offset, std::uint32_t size, std::uint8_t* out) const;

  // Faults of the chip, set once after Open.
  void StickProtection(std::uint32_t sector) {
    stuckProtected_[sector] = protected_[sector] = true;
  }
  void SetWriteProtected(bool value) { writeProtected_ = value; }
  void AddStuckByte(std::uint32_t offset) { stuckBytes_.push_back(offset); }
  std::string Display() const { return display_; }
  void SetDisplay(const std::string& text) { display_ = text; }

 private:
  FlashGeometry geometry_;
  int fd_ = -1;
  std::vector<std::uint8_t> memory_;  // used when there is no file
  std::vector<bool> protected_;
  std::vector<bool> stuckProtected_;
  bool writeProtected_ = false;
  std::vector<std::uint32_t> stuckBytes_;  // offsets
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
