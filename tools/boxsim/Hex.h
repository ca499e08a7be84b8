// Addresses as they are written on the Box's console and on boxsim's command line:
// hexadecimal, at most eight digits, "0x" optional.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace boxsim {

inline bool ParseHex(std::string text, std::uint32_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > 8) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 16);
  if (*end != '\0') return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

// Eight lower-case digits, no prefix.
inline std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace boxsim
