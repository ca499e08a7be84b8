// The profile store on POSIX: the INI library, used so that a file written here reads the same
// under Windows and keeps whatever else it holds (sections, keys, comments).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/SettingsFile.h"
#include "app/posix/AtomicFile.h"
#include "serial/driver/DeviceMap.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // header-only: this is the one file that includes it
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#include <SimpleIni.h>
#pragma GCC diagnostic pop

namespace app {

namespace {

// Section and key names compare without regard to case, as the Windows profile API does.
using Ini = CSimpleIniA;

void Configure(Ini& ini) {
  ini.SetUnicode(false);
  ini.SetMultiKey(false);
  ini.SetMultiLine(false);
  ini.SetSpaces(false);  // "KEY=value", as WritePrivateProfileStringA writes it
}

// What GetPrivateProfileStringA returns for a value: quotes around it removed, cut to fit its
// 2048-character buffer.
std::string AsProfileValue(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > 2047) value.resize(2047);
  return value;
}

enum class Loaded { Yes, Missing, Unreadable };

bool ReadWhole(const std::string& path, std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

// Only a regular file is parsed: a directory or a device cannot be read as text, and a named
// pipe would block the reader. text: the file as it was read.
Loaded Load(Ini& ini, const std::string& path, std::string& text) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? Loaded::Missing : Loaded::Unreadable;
  if (!S_ISREG(st.st_mode) || !ReadWhole(path, text)) return Loaded::Unreadable;
  return ini.LoadData(text) < 0 ? Loaded::Unreadable : Loaded::Yes;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

bool IsComment(std::string_view line) {
  const auto first = line.find_first_not_of(" \t");
  return first != std::string_view::npos && (line[first] == ';' || line[first] == '#');
}

// The library keeps a comment only with the section or key that follows it, so notes after
// the last entry would vanish at the first save; they are carried over by hand. A file of
// nothing but comments keeps them as its header already. Lines end where the library ends
// them, at a carriage return too: a "comment" that hides an entry behind a lone carriage
// return would otherwise come back as that entry after the saved ones and undo the save.
std::string TrailingComments(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", from), text.size());
    lines.push_back(text.substr(from, end - from));
    from = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  std::size_t first = lines.size();
  while (first > 0 && (IsBlank(lines[first - 1]) || IsComment(lines[first - 1]))) --first;
  if (first == 0) return std::string();
  std::string kept;
  std::string gap;  // blank lines between two comments stay, those around them go
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (IsBlank(lines[i])) {
      if (!kept.empty()) gap += '\n';
      continue;
    }
    kept.append(gap).append(lines[i]).append("\n");
    gap.clear();
  }
  return kept;
}

}  // namespace

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

char PathSeparator() {
  return '/';
}

namespace profile {

std::string Read(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& fallback) {
  Ini ini;
  Configure(ini);
  std::string text;
  if (Load(ini, path, text) != Loaded::Yes) return fallback;
  const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return value ? AsProfileValue(value) : fallback;
}

bool Write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value) {
  Ini ini;
  Configure(ini);
  // A missing file is created; one that exists but cannot be read must not be overwritten.
  std::string old;
  if (Load(ini, path, old) == Loaded::Unreadable) return false;
  if (ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) return false;
  std::string text;
  if (ini.Save(text, false) < 0) return false;
  text += TrailingComments(old);
  // Never in place: a failed write would leave the technician's file empty or cut short.
  return ReplaceFileAtomically(path, text);
}

// Every write above reaches the disk before it returns; there is no cached copy to flush.
void Flush(const std::string&) {}

}  // namespace profile

void ApplyPortMappings(const TIniFile& settings) {
  for (int n = 1; n <= 8; ++n) {
    const std::string port = "COM" + std::to_string(n);
    const std::string device = settings.ReadString("PORTS", port, "");
    if (!device.empty()) drv::SetDeviceMapping(port, device);
  }
}

}  // namespace app
