// The settings file: Zanowipe.ini in the directory that was current at start-up.
//
// Reads and writes go through the platform's profile store one key at a time, as the Windows
// profile API does: a write creates the file and section when missing and keeps every other
// section, key and comment. On POSIX a well-kept INI library gives the same behaviour.
#pragma once

#include <string>
#include <string_view>

#include "runtime/Sys.h"

namespace app {

inline constexpr const char* kSettingsFileName = "Zanowipe.ini";

// A failed write: "Unable to write to <path>".
class EIniFileException : public Exception {
 public:
  using Exception::Exception;
};

// The current directory as the operating system reports it.
std::string CurrentDirectory();
// "\" on Windows, "/" elsewhere.
char PathSeparator();
// The directory text with one separator appended unconditionally: a root directory, whose
// text already ends in one, gets a second.
std::string AppDirFrom(const std::string& currentDirectory);

// An integer key's text: more than two characters starting "0x" or "0X" are hexadecimal digits
// after the prefix; anything else is a decimal integer with an optional sign. Empty text, any
// other character or a value outside a signed 32-bit integer gives fallback.
int ParseIniInteger(std::string_view text, int fallback);

// Whether the settings file may be written (on by default). A program that only reads it
// turns this off: zanowipe-cli takes the [PORTS] mappings but is not the window whose place
// and port choice the file keeps. Every write is then skipped: nothing is created or changed.
void SetSettingsWritable(bool writable);

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);
  // Flushes the system's cached copy of the file; the result is ignored.
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  // The stored text, or fallback when the key is missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
  // Throw EIniFileException when the store reports failure; do nothing while the settings
  // are not writable.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);

 private:
  std::string fileName_;
};

// Where the platform maps port names to devices (POSIX: the [PORTS] section, COM1..COM8),
// hands every mapping present to the serial driver. Nothing to do on Windows.
void ApplyPortMappings(const TIniFile& settings);

// The platform's profile store (one file per OS folder).
namespace profile {
// GetPrivateProfileStringA semantics: the value with surrounding blanks removed and at most
// 2047 characters; fallback when the key (or the file) is missing.
std::string Read(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& fallback);
bool Write(const std::string& path, const std::string& section, const std::string& key,
           const std::string& value);
void Flush(const std::string& path);
}  // namespace profile

}  // namespace app
