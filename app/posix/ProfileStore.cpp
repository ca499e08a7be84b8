// The profile store on POSIX: the INI library, used so that a file written here reads the same
// under Windows and keeps whatever else it holds (sections, keys, comments).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "app/SettingsFile.h"
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

// Only a regular file is parsed: the library would size a directory or a device by seeking
// in it, and a named pipe would block the reader.
Loaded Load(Ini& ini, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT ? Loaded::Missing : Loaded::Unreadable;
  if (!S_ISREG(st.st_mode)) return Loaded::Unreadable;
  return ini.LoadFile(path.c_str()) < 0 ? Loaded::Unreadable : Loaded::Yes;
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
  if (Load(ini, path) != Loaded::Yes) return fallback;
  const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
  return value ? AsProfileValue(value) : fallback;
}

bool Write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value) {
  Ini ini;
  Configure(ini);
  // A missing file is created; one that exists but cannot be read must not be overwritten.
  if (Load(ini, path) == Loaded::Unreadable) return false;
  if (ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0) return false;
  return ini.SaveFile(path.c_str(), false) >= 0;
}

// Every write above goes straight to the file; there is no cached copy to flush.
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
