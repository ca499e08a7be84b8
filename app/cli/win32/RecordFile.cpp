// Every writer of this program locks one byte far beyond any file's end before it looks at the
// file's end and writes there, so that lines of several runs never mix; a line that cannot be
// written whole is taken back with SetEndOfFile; FlushFileBuffers makes it durable. What is
// not a file on a disk (a pipe, the console) gets whole lines and no flush. Worker processes,
// and so a shared descriptor, are POSIX only.
#include "app/cli/RecordFile.h"

#include <windows.h>

#include <algorithm>

namespace cli {

namespace {

std::string Describe(const std::string& what, const std::string& path, DWORD code) {
  return what + " " + path + " (win error code: " + std::to_string(code) + ")";
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

// The byte that every writer locks: no file reaches it.
constexpr std::uint64_t kLockByte = 0x7FFFFFFFFFFFFFFEull;

class Target {
 public:
  Target(const std::string& path, std::string& error) {
    file_ =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      error = Describe("cannot open the record file", path, GetLastError());
      return;
    }
    OVERLAPPED ov = At(kLockByte);
    locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) != 0;
  }
  ~Target() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    if (locked_) {
      OVERLAPPED ov = At(kLockByte);
      UnlockFileEx(file_, 0, 1, 0, &ov);
    }
    CloseHandle(file_);
  }
  bool Open() const { return file_ != INVALID_HANDLE_VALUE; }
  bool IsFile() const { return GetFileType(file_) == FILE_TYPE_DISK; }
  std::uint64_t Size() const {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  }
  // Just after the last line feed (0 if none); the size when the file ends in one.
  std::uint64_t EndOfLastLine(std::uint64_t size) const {
    char buffer[65536];
    std::uint64_t end = size;
    while (end > 0) {
      const std::uint64_t start = end > sizeof buffer ? end - sizeof buffer : 0;
      OVERLAPPED ov = At(start);
      DWORD n = 0;
      if (!ReadFile(file_, buffer, static_cast<DWORD>(end - start), &n, &ov) || n != end - start) {
        return size;
      }
      for (DWORD i = n; i > 0; --i) {
        if (buffer[i - 1] == '\n') return start + i;
      }
      end = start;
    }
    return 0;
  }
  bool TruncateTo(std::uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) && SetEndOfFile(file_);
  }
  HANDLE Handle() const { return file_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool locked_ = false;
};

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
  Target target(path, error);
  if (!target.Open()) return false;
  const DWORD count = static_cast<DWORD>(line.size());
  DWORD written = 0;
  if (!target.IsFile()) {
    if (WriteFile(target.Handle(), line.data(), count, &written, nullptr) && written == count) {
      return true;
    }
    error = Describe("cannot write to the record file", path, GetLastError());
    return false;
  }
  std::uint64_t size = target.Size();
  const std::uint64_t whole = target.EndOfLastLine(size);
  // What a writer that ended in the middle of its line left behind.
  if (whole < size && target.TruncateTo(whole)) size = whole;
  OVERLAPPED ov = At(size);
  bool ok = true;
  const BOOL wrote = WriteFile(target.Handle(), line.data(), count, &written, &ov);
  if (!wrote || written != count) {
    const DWORD code = wrote ? static_cast<DWORD>(ERROR_DISK_FULL) : GetLastError();
    error = Describe("cannot write to the record file", path, code) + " (it took " +
            std::to_string(written) + " of " + std::to_string(count) + " bytes)";
    ok = false;
  } else if (!FlushFileBuffers(target.Handle())) {
    error = Describe("cannot flush the record file", path, GetLastError());
    ok = false;
  }
  if (!ok) {
    error += target.TruncateTo(size) ? "; the file is as it was"
                                     : "; the cut line could not be taken back";
  }
  return ok;
}

bool CheckRecordFile(const std::string& path, std::string& error) {
  Target target(path, error);
  if (!target.Open()) return false;
  if (!target.IsFile()) return true;
  const std::uint64_t size = target.Size();
  const std::uint64_t whole = target.EndOfLastLine(size);
  if (whole < size) {
    error = "the record file " + path + " ends in a cut line (" + std::to_string(size - whole) +
            " bytes after the last line feed): records are not appended to it; mend or move it";
    return false;
  }
  return true;
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "unknown";
  return std::string(name, size);
}

int OpenRecordTarget(const std::string& path, std::string& error) {
  error = "a shared record file is not available on this platform: " + path;
  return -1;
}

bool AppendRecordLine(int, const std::string& name, const std::string&, std::string& error) {
  error = "a shared record file is not available on this platform: " + name;
  return false;
}

std::uint64_t RecordFileSize(int) {
  return 0;
}

bool AppendRecordLineUnlessThere(int, const std::string& name, std::uint64_t,
                                 const std::function<bool(std::string_view)>&, const std::string&,
                                 std::string& error, bool& there) {
  there = false;
  error = "a shared record file is not available on this platform: " + name;
  return false;
}

RecordTargetLock::RecordTargetLock(int descriptor, int) : descriptor_(descriptor) {}

RecordTargetLock::~RecordTargetLock() = default;

}  // namespace cli
