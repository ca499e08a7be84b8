#include "app/SettingsFile.h"

#include <atomic>
#include <cstdint>
#include <limits>

namespace app {

std::string AppDirFrom(const std::string& currentDirectory) {
  return currentDirectory + PathSeparator();
}

namespace {

std::atomic<bool> settingsWritable{true};

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

// Digits only, no sign; false for none, for a stray character or for going past limit.
bool ParseDigits(std::string_view digits, int base, std::uint64_t limit, std::uint64_t& out) {
  if (digits.empty()) return false;
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = DigitValue(c, base);
    if (d < 0) return false;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (value > limit) return false;
  }
  out = value;
  return true;
}

}  // namespace

int ParseIniInteger(std::string_view text, int fallback) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::uint64_t value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseDigits(text.substr(2), 16, kMax, value) ? static_cast<int>(value) : fallback;
  }
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (!ParseDigits(text, 10, negative ? kMax + 1 : kMax, value)) return fallback;
  return negative ? static_cast<int>(-static_cast<std::int64_t>(value)) : static_cast<int>(value);
}

void SetSettingsWritable(bool writable) {
  settingsWritable = writable;
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

TIniFile::~TIniFile() {
  profile::Flush(fileName_);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  return profile::Read(fileName_, section, key, fallback);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  return ParseIniInteger(ReadString(section, key, ""), fallback);
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  if (!settingsWritable) return;
  if (!profile::Write(fileName_, section, key, value)) {
    throw EIniFileException("Unable to write to " + fileName_);
  }
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace app
