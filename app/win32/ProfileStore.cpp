// The profile store on Windows: the system's profile API, which keeps the rest of the file.
#include <windows.h>

#include <vector>

#include "app/SettingsFile.h"

namespace app {

std::string CurrentDirectory() {
  std::vector<char> buffer(MAX_PATH + 1);
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  return n > 0 && n < buffer.size() ? std::string(buffer.data(), n) : std::string();
}

char PathSeparator() {
  return '\\';
}

namespace profile {

std::string Read(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& fallback) {
  char buffer[2048];
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer,
                                           sizeof buffer, path.c_str());
  return std::string(buffer, n);
}

bool Write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         FALSE;
}

void Flush(const std::string& path) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

}  // namespace profile

// COM ports name their devices themselves here.
void ApplyPortMappings(const TIniFile&) {}

}  // namespace app
