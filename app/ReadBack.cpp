#include "app/ReadBack.h"

#include <array>
#include <cstdio>

namespace app {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hexadecimal digits, an optional 0x before them, and nothing else.
std::optional<std::uint32_t> ParseHexWord(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The word at the end of text (after its last blank), and text before it.
std::string_view CutLastWord(std::string_view& text) {
  text = TrimRight(text);
  const std::size_t blank = text.find_last_of(" \t");
  const std::size_t start = blank == std::string_view::npos ? 0 : blank + 1;
  const std::string_view word = text.substr(start);
  text = text.substr(0, start);
  return word;
}

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table;
}

}  // namespace

std::string Hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

std::optional<FlashRange> EraseRangeOf(std::string_view commandLine) {
  std::size_t at = 0;
  while (at <= commandLine.size()) {
    std::size_t end = commandLine.find(';', at);
    if (end == std::string_view::npos) end = commandLine.size();
    std::string_view command = TrimRight(commandLine.substr(at, end - at));
    while (!command.empty() && command.back() == '\n')
      command = TrimRight(command.substr(0, command.size() - 1));
    if (command.rfind("erase ", 0) == 0) {
      std::string_view rest = command.substr(6);
      const std::string_view last = CutLastWord(rest);
      const std::string_view first = CutLastWord(rest);
      const auto a = ParseHexWord(first);
      const auto b = ParseHexWord(last);
      if (TrimRight(rest).empty() && a && b && *a <= *b) return FlashRange{*a, *b};
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::string ReadBackCommand(const FlashRange& range) {
  char count[24];
  std::snprintf(count, sizeof count, "%llx", static_cast<unsigned long long>(range.Count()));
  return "crc32 " + Hex8(range.first) + " " + count;
}

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc) {
  const auto& table = CrcTable();
  crc = ~crc;
  for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

namespace {

// A map s -> M s + c over 32-bit words seen as vectors over GF(2); column i of M is the image of
// bit i.
struct AffineMap {
  std::array<std::uint32_t, 32> column{};
  std::uint32_t constant = 0;

  std::uint32_t Linear(std::uint32_t s) const {
    std::uint32_t out = 0;
    for (std::size_t i = 0; s != 0; ++i, s >>= 1) {
      if (s & 1) out ^= column[i];
    }
    return out;
  }
  std::uint32_t operator()(std::uint32_t s) const { return Linear(s) ^ constant; }
  // This map after `first`.
  AffineMap After(const AffineMap& first) const {
    AffineMap m;
    for (std::size_t i = 0; i < 32; ++i) m.column[i] = Linear(first.column[i]);
    m.constant = (*this)(first.constant);
    return m;
  }
};

}  // namespace

std::uint32_t Crc32OfErased(std::uint64_t count) {
  // One 0xFF byte moves the CRC's register by an affine map (the byte table is linear in its
  // index), so `count` of them are that map applied `count` times: a few squarings instead of
  // megabytes of table look-ups on the window's thread.
  const auto& table = CrcTable();
  AffineMap step;
  for (std::size_t i = 0; i < 32; ++i) {
    const std::uint32_t bit = 1u << i;
    step.column[i] = table[bit & 0xFFu] ^ (bit >> 8);
  }
  step.constant = table[0xFF];
  AffineMap total;
  for (std::size_t i = 0; i < 32; ++i) total.column[i] = 1u << i;
  for (; count != 0; count >>= 1) {
    if (count & 1) total = step.After(total);
    step = step.After(step);
  }
  return ~total(0xFFFFFFFFu);
}

std::optional<CrcAnswer> ParseCrcAnswer(std::string_view line) {
  const std::size_t arrow = line.find("==>");
  if (arrow == std::string_view::npos) return std::nullopt;
  // The CRC: eight digits and nothing after them but blanks.
  std::string_view after = TrimRight(line.substr(arrow + 3));
  while (!after.empty() && (after.front() == ' ' || after.front() == '\t')) after.remove_prefix(1);
  if (after.size() != 8) return std::nullopt;
  const auto crc = ParseHexWord(after);
  if (!crc) return std::nullopt;
  // The range: "FIRST ... LAST" before the arrow. Noise on the line may stand anywhere else:
  // it cannot make a wrong range or CRC look right, only a right one look wrong.
  const std::string_view before = line.substr(0, arrow);
  const std::size_t dots = before.rfind(" ... ");
  if (dots == std::string_view::npos) return std::nullopt;
  std::string_view head = before.substr(0, dots);
  std::string_view tail = before.substr(dots + 5);
  const std::size_t blank = tail.find_first_of(" \t");
  const auto first = ParseHexWord(CutLastWord(head));
  const auto last = ParseHexWord(tail.substr(0, blank));
  if (!first || !last) return std::nullopt;
  return CrcAnswer{FlashRange{*first, *last}, *crc};
}

}  // namespace app
