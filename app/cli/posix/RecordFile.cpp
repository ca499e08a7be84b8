// O_APPEND moves to the end and writes under the file's lock in one step, so the lines of
// several workers never mix; fsync makes a written line durable before the next Box starts.
#include "app/cli/RecordFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {

namespace {

std::string Describe(const char* what, const std::string& path) {
  return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// Opens for appending; a file made here has its directory entry flushed too, or a crash could
// lose the whole file with every line in it.
int OpenForAppend(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0) return fd;
  if (errno != ENOENT) {
    error = Describe("cannot open the record file", path);
    return -1;
  }
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = Describe("cannot create the record file", path);
    return -1;
  }
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

}  // namespace

bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error) {
  const int fd = OpenForAppend(path, error);
  if (fd < 0) return false;
  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  bool ok = true;
  if (written < 0) {
    error = Describe("cannot write to the record file", path);
    ok = false;
  } else if (static_cast<std::size_t>(written) != line.size()) {
    // Another write would put the rest after whatever another process appended meanwhile.
    error = "the record file " + path + " took " + std::to_string(written) + " of " +
            std::to_string(line.size()) + " bytes (disk full?); that record is cut short";
    ok = false;
  } else if (::fsync(fd) != 0) {
    error = Describe("cannot flush the record file", path);
    ok = false;
  }
  ::close(fd);
  return ok;
}

bool CheckRecordFile(const std::string& path, std::string& error) {
  const int fd = OpenForAppend(path, error);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "unknown";
  return name;
}

}  // namespace cli
