// Every writer takes a lock on the target before it looks at the file's end and appends: a
// writer that opened the file by its path takes one that belongs to its open file (so threads
// and processes exclude each other), a line's parent and workers, which share one open file,
// take one that belongs to the process. The two kinds conflict with each other, so a run on one
// port and a line can share a file. Under the lock the file ends in a line feed, or in the
// fragment of a writer that died in the middle of its line, which is taken off; a line that
// cannot be written whole is taken back by truncating to where it began; fsync makes a written
// line durable before the next Box starts. Pipes and terminals get whole lines and no fsync.
#include "app/cli/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace cli {

namespace {

enum class LockKind { OpenFile, Process };

std::string Describe(const std::string& what, const std::string& path, int error = errno) {
  return what + " " + path + ": " + std::strerror(error);
}

bool Lock(int fd, LockKind kind, bool wait) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const int command = kind == LockKind::OpenFile ? (wait ? F_OFD_SETLKW : F_OFD_SETLK)
                                                 : (wait ? F_SETLKW : F_SETLK);
  for (;;) {
    if (::fcntl(fd, command, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void Unlock(int fd, LockKind kind) {
  struct flock lock {};
  lock.l_type = F_UNLCK;
  lock.l_whence = SEEK_SET;
  ::fcntl(fd, kind == LockKind::OpenFile ? F_OFD_SETLK : F_SETLK, &lock);
}

bool IsFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

off_t SizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

// Where the last whole line ends: the file's size when it ends in a line feed, else just after
// its last line feed (0 if it has none). -1 when the file cannot be read.
off_t EndOfLastLine(int fd, off_t size) {
  char buffer[65536];
  off_t end = size;
  while (end > 0) {
    const off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof buffer));
    const ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(end - start), start);
    if (n != end - start) return -1;
    for (ssize_t i = n; i > 0; --i) {
      if (buffer[i - 1] == '\n') return start + i;
    }
    end = start;
  }
  return 0;
}

// Writes all of `line`; false with the error of the write that failed, after `written` bytes.
bool WriteAll(int fd, const std::string& line, std::size_t& written, int& error) {
  written = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Whether a whole line from `since` to the end is one that `already` accepts.
bool FoundSince(int fd, off_t since, off_t size,
                const std::function<bool(std::string_view)>& already) {
  std::string pending;
  char buffer[65536];
  for (off_t at = since; at < size;) {
    const ssize_t n = ::pread(
        fd, buffer,
        static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(sizeof buffer), size - at)),
        at);
    if (n <= 0) return false;
    at += n;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t lf; (lf = pending.find('\n')) != std::string::npos;) {
      if (already(std::string_view(pending).substr(0, lf))) return true;
      pending.erase(0, lf + 1);
    }
  }
  return false;
}

// With the lock held: the line appended whole, or the file left as it was.
bool AppendLocked(int fd, const std::string& name, const std::string& line, std::string& error,
                  std::uint64_t since, const std::function<bool(std::string_view)>& already,
                  bool& there) {
  there = false;
  if (!IsFile(fd)) {
    std::size_t written = 0;
    int failure = 0;
    if (WriteAll(fd, line, written, failure)) return true;
    error = Describe("cannot write to the record file", name, failure);
    if (written > 0) {
      error += " (" + std::to_string(written) + " of " + std::to_string(line.size()) +
               " bytes went out: that line is cut short)";
    }
    return false;
  }
  off_t size = SizeOf(fd);
  const off_t whole = EndOfLastLine(fd, size);
  if (whole >= 0 && whole < size) {
    // What a writer killed in the middle of its line left behind.
    if (::ftruncate(fd, whole) == 0) size = whole;
  }
  if (already && FoundSince(fd, static_cast<off_t>(since), size, already)) {
    there = true;
    return true;
  }
  // A descriptor shared with this program's output writes where that output stands: at the end.
  const bool appends = (::fcntl(fd, F_GETFL) & O_APPEND) != 0;
  if (!appends) ::lseek(fd, 0, SEEK_END);
  std::size_t written = 0;
  int failure = 0;
  bool ok = WriteAll(fd, line, written, failure);
  if (ok && ::fsync(fd) != 0) {
    failure = errno;
    ok = false;
    error = Describe("cannot flush the record file", name, failure);
  } else if (!ok) {
    error = Describe("cannot write to the record file", name, failure);
    if (written > 0) {
      error +=
          " (it took " + std::to_string(written) + " of " + std::to_string(line.size()) + " bytes)";
    }
  }
  if (!ok) {
    // Taken back, so that the next line does not start in the middle of this one.
    if (::ftruncate(fd, size) != 0) {
      error += "; the cut line could not be taken back: " + std::string(std::strerror(errno));
    } else {
      error += "; the file is as it was";
      if (!appends) ::lseek(fd, size, SEEK_SET);
    }
  }
  return ok;
}

// A file (or a name that is none yet) is opened for reading too, so that its end can be looked
// at; anything else for writing only, so that a pipe's reader still sees its end, and without
// waiting for a reader: a pipe that nobody reads is refused.
int OpenTarget(const std::string& path, bool create, std::string& error) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  // The file this process's output goes to (--record /dev/stdout into a file): written through
  // that descriptor, so that the records and the output share its one position instead of
  // writing over each other.
  for (const int standard : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat out {};
    if (exists && S_ISREG(st.st_mode) && ::fstat(standard, &out) == 0 && out.st_dev == st.st_dev &&
        out.st_ino == st.st_ino) {
      const int fd = ::fcntl(standard, F_DUPFD_CLOEXEC, 3);
      if (fd >= 0) return fd;
    }
  }
  if (!exists || S_ISREG(st.st_mode)) {
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != ENOENT || !create) {
      error = Describe("cannot open the record file", path);
      return -1;
    }
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      error = Describe("cannot create the record file", path);
      return -1;
    }
    // A file made here has its directory entry flushed too, or a crash could lose the whole
    // file with every line in it.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return fd;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENXIO ? "cannot write to the record file " + path + ": nothing reads it"
                           : Describe("cannot open the record file", path);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
  const int fd = OpenTarget(path, true, error);
  if (fd < 0) return false;
  // Without a lock (a file system that has none) the line still goes out in one append.
  const bool locked = Lock(fd, LockKind::OpenFile, true);
  bool there = false;
  const bool ok = AppendLocked(fd, path, line, error, 0, nullptr, there);
  if (locked) Unlock(fd, LockKind::OpenFile);
  ::close(fd);
  return ok;
}

bool CheckRecordFile(const std::string& path, std::string& error) {
  const int fd = OpenTarget(path, true, error);
  if (fd < 0) return false;
  bool ok = true;
  if (IsFile(fd)) {
    const off_t size = SizeOf(fd);
    const off_t whole = EndOfLastLine(fd, size);
    if (whole >= 0 && whole < size) {
      error = "the record file " + path + " ends in a cut line (" + std::to_string(size - whole) +
              " bytes after the last line feed): records are not appended to it; mend or move it";
      ok = false;
    }
  }
  ::close(fd);
  return ok;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

int OpenRecordTarget(const std::string& path, std::string& error) {
  return OpenTarget(path, true, error);
}

bool AppendRecordLine(int descriptor, const std::string& name, const std::string& line,
                      std::string& error) {
  bool there = false;
  return AppendRecordLineUnlessThere(descriptor, name, 0, nullptr, line, error, there);
}

std::uint64_t RecordFileSize(int descriptor) {
  return IsFile(descriptor) ? static_cast<std::uint64_t>(SizeOf(descriptor)) : 0;
}

bool AppendRecordLineUnlessThere(int descriptor, const std::string& name, std::uint64_t since,
                                 const std::function<bool(std::string_view)>& already,
                                 const std::string& line, std::string& error, bool& there) {
  const bool locked = Lock(descriptor, LockKind::Process, true);
  const bool ok = AppendLocked(descriptor, name, line, error, since, already, there);
  if (locked) Unlock(descriptor, LockKind::Process);
  return ok;
}

RecordTargetLock::RecordTargetLock(int descriptor, int waitMs) : descriptor_(descriptor) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    held_ = Lock(descriptor_, LockKind::Process, false);
    if (held_ || (errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= end) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

RecordTargetLock::~RecordTargetLock() {
  if (held_) Unlock(descriptor_, LockKind::Process);
}

}  // namespace cli
