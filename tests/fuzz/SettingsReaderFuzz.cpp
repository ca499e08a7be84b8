// The settings file reader on any bytes at all. The bytes are the file; the tool's keys are
// read back through TIniFile as the window reads them. Never a crash or a hang, and:
// - every integer read follows the rule (checked against a reading of the rule written here):
//   "0x"/"0X" and hexadecimal digits, or a decimal with an optional sign, inside a signed
//   32-bit integer; anything else gives the fallback;
// - a text value never exceeds the 2047 characters the profile call returns;
// - the window's save (an integer written back) then reads back as written.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/SettingsFile.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

std::optional<std::int64_t> RuleValue(std::string_view t) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    std::int64_t v = 0;
    for (char c : t.substr(2)) {
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return std::nullopt;
      }
      v = v * 16 + d;
      if (v > INT32_MAX) return std::nullopt;
    }
    return v;
  }
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.empty()) return std::nullopt;
  std::int64_t v = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > static_cast<std::int64_t>(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return v;
}

void CheckInteger(std::string_view text, int got, int fallback, const char* where) {
  const std::optional<std::int64_t> want = RuleValue(text);
  FUZZ_CHECK(got == (want ? static_cast<int>(*want) : fallback),
             "%s: text \"%.*s\" read as %d (rule: %s %lld, fallback %d)", where,
             static_cast<int>(text.size() > 80 ? 80 : text.size()), text.data(), got,
             want ? "value" : "fallback", want ? static_cast<long long>(*want) : 0LL, fallback);
}

const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(shm) + "/zw-fuzz-settings-" + std::to_string(getpid()) + ".ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The integer rule on the raw bytes themselves, as one value's text.
  const std::string_view asText(reinterpret_cast<const char*>(data), size);
  CheckInteger(asText, app::ParseIniInteger(asText, -4242), -4242, "ParseIniInteger");
  CheckInteger(asText, app::ParseIniInteger(asText, 17), 17, "ParseIniInteger");

  const std::string& path = ScratchFile();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size != 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  {
    app::TIniFile ini(path);
    for (const char* key : {"TOP", "LEFT", "COM PORT"}) {
      const std::string text = ini.ReadString("APP", key, "");
      FUZZ_CHECK(text.size() <= 2047, "[APP] %s: %zu characters", key, text.size());
      CheckInteger(text, ini.ReadInteger("APP", key, 99), 99, key);
    }
    for (int n = 1; n <= 8; ++n) {
      const std::string text = ini.ReadString("PORTS", "COM" + std::to_string(n), "");
      FUZZ_CHECK(text.size() <= 2047, "[PORTS] COM%d: %zu characters", n, text.size());
    }
    try {
      ini.WriteInteger("APP", "TOP", 123);
      ini.WriteInteger("APP", "COM PORT", -5);
      FUZZ_CHECK(ini.ReadInteger("APP", "TOP", 0) == 123, "TOP written as 123 reads %d",
                 ini.ReadInteger("APP", "TOP", 0));
      FUZZ_CHECK(ini.ReadInteger("APP", "COM PORT", 0) == -5, "COM PORT written as -5 reads %d",
                 ini.ReadInteger("APP", "COM PORT", 0));
    } catch (const app::EIniFileException&) {
      // A file the store refuses to rewrite is reported, not overwritten.
    }
  }
  std::remove(path.c_str());
  return 0;
}
