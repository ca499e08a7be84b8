#include "tools/boxsim/Flash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/boxsim/Hex.h"

namespace boxsim {

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = ::pread(fd, data, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

std::uint8_t PatternByte(std::uint32_t offset) {
  // Mixing in the sector and megabyte numbers makes a misplaced erase or a copied sector show.
  std::uint32_t v = offset * 131u + (offset >> 16) * 7u + (offset >> 20) * 29u;
  return static_cast<std::uint8_t>(v % 255u);
}

std::string CreateImage(const std::string& path, const FlashGeometry& geometry) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return SystemError("cannot create flash image", path);
  std::vector<std::uint8_t> sector(geometry.sectorSize);
  for (std::uint32_t s = 0; s < geometry.SectorCount(); ++s) {
    std::uint32_t start = s * geometry.sectorSize;
    for (std::uint32_t i = 0; i < geometry.sectorSize; ++i) sector[i] = PatternByte(start + i);
    if (!WriteAll(fd, sector.data(), sector.size(), start)) {
      std::string error = SystemError("cannot write flash image", path);
      ::close(fd);
      return error;
    }
  }
  ::close(fd);
  return {};
}

std::string Flash::Open(const std::string& path, const FlashGeometry& geometry) {
  geometry_ = geometry;
  protected_.assign(geometry.SectorCount(), true);
  stuckProtected_.assign(geometry.SectorCount(), false);
  writeProtected_ = false;
  stuckBytes_.clear();
  if (path.empty()) {
    memory_.resize(geometry.size);
    for (std::uint32_t i = 0; i < geometry.size; ++i) memory_[i] = PatternByte(i);
    return {};
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return SystemError("cannot open flash image", path);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return SystemError("cannot stat flash image", path);
  if (static_cast<std::uint64_t>(st.st_size) != geometry.size) {
    return "flash image " + path + " holds " + std::to_string(st.st_size) + " bytes, expected " +
           std::to_string(geometry.size) + " (use --flash-init to make a fresh one)";
  }
  return {};
}

Flash::~Flash() {
  if (fd_ >= 0) {
    ::fsync(fd_);
    ::close(fd_);
  }
}

std::string Flash::EraseSector(std::uint32_t sector) {
  if (writeProtected_) return {};
  std::uint32_t offset = sector * geometry_.sectorSize;
  std::vector<std::uint8_t> erased(geometry_.sectorSize, 0xFF);
  for (std::uint32_t stuck : stuckBytes_) {
    if (stuck - offset < geometry_.sectorSize) erased[stuck - offset] = PatternByte(stuck);
  }
  if (fd_ < 0) {
    std::memcpy(memory_.data() + offset, erased.data(), erased.size());
    return {};
  }
  if (!WriteAll(fd_, erased.data(), erased.size(), offset)) {
    return std::string("cannot write flash image: ") + std::strerror(errno);
  }
  return {};
}

std::string Flash::Read(std::uint32_t offset, std::uint32_t size, std::uint8_t* out) const {
  if (offset > geometry_.size || size > geometry_.size - offset) {
    return "read of " + std::to_string(size) + " bytes at offset " + Hex(offset) +
           " leaves the flash";
  }
  if (fd_ < 0) {
    std::memcpy(out, memory_.data() + offset, size);
    return {};
  }
  if (!ReadAll(fd_, out, size, offset)) {
    return std::string("cannot read flash image: ") + std::strerror(errno);
  }
  return {};
}

VerifyResult VerifyImage(const std::string& path, const FlashGeometry& geometry, bool noErase,
                         std::uint32_t erasedFirst, std::uint32_t erasedLast) {
  VerifyResult result;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.report = SystemError("cannot open flash image", path) + "\n";
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != geometry.size) {
    result.report =
        "flash image " + path + " is not " + std::to_string(geometry.size) + " bytes long\n";
    ::close(fd);
    return result;
  }
  std::vector<std::uint8_t> image(geometry.size);
  if (!ReadAll(fd, image.data(), image.size(), 0)) {
    result.report = SystemError("cannot read flash image", path) + "\n";
    ::close(fd);
    return result;
  }
  ::close(fd);

  std::uint64_t wrongInRange = 0, wrongOutside = 0;
  std::string firstInRange, firstOutside;
  for (std::uint32_t i = 0; i < geometry.size; ++i) {
    std::uint32_t address = geometry.base + i;
    bool inRange = !noErase && address >= erasedFirst && address <= erasedLast;
    std::uint8_t expected = inRange ? 0xFF : PatternByte(i);
    if (image[i] == expected) continue;
    char detail[96];
    std::snprintf(detail, sizeof detail, "%08x holds %02x, expected %02x", address, image[i],
                  expected);
    if (inRange) {
      if (wrongInRange++ == 0) firstInRange = detail;
    } else {
      if (wrongOutside++ == 0) firstOutside = detail;
    }
  }
  std::string range = noErase ? "" : Hex(erasedFirst) + ".." + Hex(erasedLast);
  if (wrongInRange > 0) {
    result.report += "NOT ERASED: " + std::to_string(wrongInRange) + " byte(s) in " + range +
                     " are not ff, first: " + firstInRange + "\n";
  }
  if (wrongOutside > 0) {
    result.report += "TOUCHED: " + std::to_string(wrongOutside) + " byte(s) outside " +
                     (noErase ? std::string("(no range)") : range) +
                     " differ from the fresh image, first: " + firstOutside + "\n";
  }
  result.ok = wrongInRange == 0 && wrongOutside == 0;
  if (result.ok) {
    result.report = noErase ? "OK: the whole image is as fresh, nothing erased\n"
                            : "OK: " + range + " erased, everything else unchanged\n";
  }
  return result;
}

}  // namespace boxsim
