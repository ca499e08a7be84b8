#include "app/posix/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace app {

namespace {

// The file a save replaces: a link's target, so that the link itself survives the rename.
std::string ResolveTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Beside the target, so that the rename stays within one file system; the process id and a
// counter keep two saves (two windows, two programs) from sharing a name.
int CreateTemporary(const std::string& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + "." + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
    // 0666 lets the umask decide for a new file, as a plain create would.
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The old file's owner and permission bits carry over to its replacement.
bool CarryOverAttributes(int fd, const std::string& target) {
  struct stat old;
  if (stat(target.c_str(), &old) != 0) return errno == ENOENT;
  struct stat now;
  if (fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    // Only a privileged user may give a file away; anyone else's save keeps it as their own.
    const int refused = fchown(fd, old.st_uid, old.st_gid);
    static_cast<void>(refused);
  }
  // After the owner: a change of owner clears the set-id bits.
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// A short write is how a full disk or a file size limit first shows itself.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The rename is done by now: a directory that cannot be synced (some file systems refuse)
// leaves the entry to the system's next flush rather than failing a save that took place.
void SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  const int refused = fsync(fd);
  static_cast<void>(refused);
  close(fd);
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view data) {
  const std::string target = ResolveTarget(path);
  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) return false;
  bool ok = CarryOverAttributes(fd, target) && WriteAll(fd, data) && fsync(fd) == 0;
  // Some file systems (NFS) report a failed delayed write only here.
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  SyncDirectory(DirectoryOf(target));
  return true;
}

}  // namespace app
