// Reading an erased range back: neither the console's prompt nor its "Erased" line proves that
// the flash was erased (a write-protected chip prints exactly the success text), so the tool asks
// the console for the CRC-32 of the range and compares it with that of the same number of 0xFF
// bytes, which it computes itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

// A flash range, both ends inclusive, as the console's erase command takes it.
struct FlashRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint64_t Count() const { return std::uint64_t{last} - first + 1; }
  bool operator==(const FlashRange&) const = default;
};

// The range of the "erase FIRST LAST" command in a command line; empty without a well-formed one.
std::optional<FlashRange> EraseRangeOf(std::string_view commandLine);
// Eight lower-case hexadecimal digits, no prefix: the consoles' own way of writing addresses.
std::string Hex8(std::uint32_t value);

// The console's read-back command for the range: "crc32 a1c00000 400000", a plain byte count
// (the "+len" form is misread by such consoles). No line feed.
std::string ReadBackCommand(const FlashRange& range);

// CRC-32 as IEEE 802.3 and zlib define it; `crc` continues an earlier result.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc = 0);
// The CRC-32 of `count` bytes of 0xFF: what an erased range reads back as.
std::uint32_t Crc32OfErased(std::uint64_t count);

struct CrcAnswer {
  FlashRange range;  // the range the console says it read
  std::uint32_t crc = 0;
};

// The console's answer line, "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975" (either letter case,
// anything before the range or between it and the arrow): empty when the line holds no such
// answer.
std::optional<CrcAnswer> ParseCrcAnswer(std::string_view line);

}  // namespace app
