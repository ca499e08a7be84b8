// FILE_APPEND_DATA without FILE_WRITE_DATA makes every write go to the end of the file in one
// step, as O_APPEND does; FlushFileBuffers makes it durable.
#include "app/cli/RecordFile.h"

#include <windows.h>

namespace cli {

namespace {

std::string Describe(const char* what, const std::string& path) {
  return std::string(what) + " " + path + " (win error code: " + std::to_string(GetLastError()) +
         ")";
}

HANDLE OpenForAppend(const std::string& path, std::string& error) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) error = Describe("cannot open the record file", path);
  return file;
}

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
  HANDLE file = OpenForAppend(path, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = true;
  if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) {
    error = Describe("cannot write to the record file", path);
    ok = false;
  } else if (written != line.size()) {
    error = "the record file " + path + " took " + std::to_string(written) + " of " +
            std::to_string(line.size()) + " bytes (disk full?); that record is cut short";
    ok = false;
  } else if (!FlushFileBuffers(file)) {
    error = Describe("cannot flush the record file", path);
    ok = false;
  }
  CloseHandle(file);
  return ok;
}

bool CheckRecordFile(const std::string& path, std::string& error) {
  HANDLE file = OpenForAppend(path, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "unknown";
  return std::string(name, size);
}

}  // namespace cli
