#include "serial/driver/posix/tty/ConsoleGuard.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace drv::posix {

namespace {

std::mutex listsMutex;
ConsoleLists lists;

ConsoleLists CurrentLists() {
  std::lock_guard lock(listsMutex);
  return lists;
}

// As many links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;

// /dev/console is the console whatever the lists say.
constexpr unsigned kConsoleMajor = 5;
constexpr unsigned kConsoleMinor = 1;

// The device number of a character device, or false.
bool CharDevice(const std::string& path, dev_t& number) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  number = st.st_rdev;
  return true;
}

// The last field of a /proc/consoles line, "MAJOR:MINOR".
bool ListedNumber(const std::string& line, dev_t& number) {
  std::istringstream fields(line);
  std::string field, last;
  while (fields >> field) last = field;
  unsigned major = 0, minor = 0;
  char end = 0;
  if (std::sscanf(last.c_str(), "%u:%u%c", &major, &minor, &end) != 2) return false;
  number = makedev(major, minor);
  return true;
}

}  // namespace

void SetConsoleLists(const ConsoleLists& given) {
  std::lock_guard lock(listsMutex);
  lists = given;
}

std::string CanonicalPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (resolved) return resolved.get();
  // A device that is missing now may be plugged in later: follow the links that lead to it and
  // tidy the rest, so that what the name would open is still what is judged.
  namespace fs = std::filesystem;
  fs::path p = path;
  std::error_code error;
  for (int hops = 0; hops < kMaxLinkHops && fs::is_symlink(p, error); ++hops) {
    const fs::path target = fs::read_symlink(p, error);
    if (error) break;
    p = target.is_absolute() ? target : p.parent_path() / target;
  }
  const fs::path tidy = fs::weakly_canonical(p, error);
  return (error ? p.lexically_normal() : tidy).string();
}

bool IsSystemConsole(const std::string& path) {
  dev_t device = 0;
  if (!CharDevice(path, device)) return false;
  if (device == makedev(kConsoleMajor, kConsoleMinor)) return true;
  const std::string canonical = CanonicalPath(path);
  // A listed name is a device under /dev, known by its number or, failing that, its path.
  auto isThisDevice = [&](const std::string& name) {
    if (name.empty()) return false;
    const std::string listed = "/dev/" + name;
    dev_t number = 0;
    if (CharDevice(listed, number)) return number == device;
    return CanonicalPath(listed) == canonical;
  };

  const ConsoleLists where = CurrentLists();
  std::ifstream registered(where.registered);
  for (std::string line; std::getline(registered, line);) {
    dev_t number = 0;
    if (ListedNumber(line, number) && number == device) return true;
    std::string name;
    std::istringstream(line) >> name;
    if (isThisDevice(name)) return true;
  }
  std::ifstream active(where.active);
  for (std::string name; active >> name;) {
    if (isThisDevice(name)) return true;
  }
  return false;
}

}  // namespace drv::posix
