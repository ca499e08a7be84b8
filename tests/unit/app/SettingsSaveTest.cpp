// Saving the settings file on POSIX: a save that cannot complete (a file size limit, a full
// file system, a read-only mount) leaves the old file byte for byte and says so; a save that
// completes keeps the file's comments, other sections and keys, order, mode and link.
//
// Limits and mounts are set in a child process, so that they end with it. The child reports
// through its exit code: see Outcome.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "TempDir.h"
#include "app/SettingsFile.h"

namespace {

using app::TIniFile;

// What a child found.
enum Outcome : int {
  kFailedAndKept = 0,    // the write raised "Unable to write to <path>", the file is untouched
  kReportedSuccess = 1,  // the write raised nothing
  kOtherMessage = 2,     // it raised with another text
  kFileChanged = 3,      // the old file's bytes changed
  kLeftovers = 4,        // something beside the file was left in its directory
  kNotFull = 5,          // the file system meant to be full still had room
  kCannotSetUp = 77,     // the child could not make the fault (no mount namespace here)
};

const char* Describe(int code) {
  switch (code) {
    case kFailedAndKept:
      return "failed, reported, file kept";
    case kReportedSuccess:
      return "the write reported success";
    case kOtherMessage:
      return "the write raised another message";
    case kFileChanged:
      return "the old file was changed";
    case kLeftovers:
      return "a temporary file was left behind";
    case kNotFull:
      return "the file system was not full";
    default:
      return "the child failed";
  }
}

int InChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return 98;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::size_t EntriesIn(const std::filesystem::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

// A technician's file: notes before, between and after the entries, a section and keys the
// tool does not know, keys in an order of their own.
const std::string kOldFile =
    "; bench 3, keep\n[PORTS]\n; the grey adapter\nCOM1=/dev/ttyACM0\n\n"
    "[APP]\nZED=first\nTOP=10\nLEFT=20\nCOM PORT=3\n"
    "[Bench]\nowner=night shift\n; last note\n";

// Tries to save TOP in the file at path, which holds old, and checks what is left.
int SaveAndCheck(const std::string& path, const std::string& old = kOldFile) {
  try {
    TIniFile ini(path);
    ini.WriteInteger("APP", "TOP", 1234567);
    return kReportedSuccess;
  } catch (const app::EIniFileException& e) {
    if (e.Message() != "Unable to write to " + path) return kOtherMessage;
  }
  if (TempDir::Read(path) != old) return kFileChanged;
  if (EntriesIn(std::filesystem::path(path).parent_path()) != 1) return kLeftovers;
  return kFailedAndKept;
}

// A tmpfs of its own at dir, seen only by this (child) process and gone with it.
bool MountPrivateTmpfs(const std::string& dir, const char* options) {
  if (unshare(CLONE_NEWNS) != 0) return false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
  return mount("tmpfs", dir.c_str(), "tmpfs", 0, options) == 0;
}

class SettingsSaveTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string sub = dir.File("settings");
  std::string path = sub + "/Zanowipe.ini";
  void SetUp() override { std::filesystem::create_directory(sub); }
};

TEST_F(SettingsSaveTest, FileSizeLimitKeepsTheOldFileAndRaises) {
  TempDir::Write(path, kOldFile);
  // 0: nothing can be written; 16: the new text is cut short part way.
  for (rlim_t limit : {rlim_t{0}, rlim_t{16}}) {
    const int outcome = InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit fsize{limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return int{kCannotSetUp};
      return SaveAndCheck(path);
    });
    EXPECT_EQ(outcome, kFailedAndKept) << "file size limit " << limit << ": " << Describe(outcome);
    EXPECT_EQ(TempDir::Read(path), kOldFile) << "file size limit " << limit;
  }
}

TEST_F(SettingsSaveTest, FullFileSystemKeepsTheOldFileAndRaises) {
  const int outcome = InChild([&] {
    // One page, which the old file all but fills; the saved text needs more than the page, so
    // even a save that emptied the old file first would find no room.
    if (!MountPrivateTmpfs(sub, "size=4k")) return int{kCannotSetUp};
    const std::string old = kOldFile + "; " + std::string(4090 - kOldFile.size() - 3, '-') + "\n";
    TempDir::Write(path, old);
    struct statvfs fs {};
    if (statvfs(sub.c_str(), &fs) != 0 || fs.f_bavail != 0) return int{kNotFull};
    return SaveAndCheck(path, old);
  });
  if (outcome == kCannotSetUp) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(outcome, kFailedAndKept) << Describe(outcome);
}

// root writes into a directory whatever its mode, so the read-only place is a read-only mount.
TEST_F(SettingsSaveTest, ReadOnlyMountKeepsTheOldFileAndRaises) {
  const int outcome = InChild([&] {
    if (!MountPrivateTmpfs(sub, "size=64k")) return int{kCannotSetUp};
    TempDir::Write(path, kOldFile);
    if (mount(nullptr, sub.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      return int{kCannotSetUp};
    }
    if (TIniFile(path).ReadInteger("APP", "TOP", 0) != 10) return int{kFileChanged};
    return SaveAndCheck(path);
  });
  if (outcome == kCannotSetUp) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(outcome, kFailedAndKept) << Describe(outcome);
}

TEST_F(SettingsSaveTest, SaveKeepsCommentsOtherEntriesAndTheirOrder) {
  TempDir::Write(path, kOldFile);
  {
    TIniFile ini(path);
    ini.WriteInteger("APP", "TOP", 77);
    ini.WriteInteger("APP", "LEFT", -5);
    ini.WriteInteger("APP", "COM PORT", 0);
  }
  const std::string text = TempDir::Read(path);
  std::size_t at = 0;
  for (const char* expected : {"; bench 3, keep", "[PORTS]", "; the grey adapter",
                               "COM1=/dev/ttyACM0", "[APP]", "ZED=first", "TOP=77", "LEFT=-5",
                               "COM PORT=0", "[Bench]", "owner=night shift", "; last note"}) {
    const std::size_t found = text.find(expected, at);
    ASSERT_NE(found, std::string::npos) << "\"" << expected << "\" missing or out of order in\n"
                                        << text;
    at = found;
  }
  EXPECT_EQ(text.find("TOP=10"), std::string::npos) << text;
  EXPECT_EQ(EntriesIn(sub), 1u) << "a temporary file was left behind";

  // A second save neither loses nor doubles the closing note.
  TIniFile(path).WriteInteger("APP", "TOP", 78);
  const std::string again = TempDir::Read(path);
  EXPECT_EQ(again.find("; last note"), again.rfind("; last note")) << again;
  EXPECT_NE(again.find("; last note"), std::string::npos) << again;
}

// Notes after the last entry are carried over as notes only: whatever ends their lines, a save
// takes effect and nothing hidden in them comes back as an entry. (Behind a lone carriage
// return the library sees an entry, so the note before it is that entry's, not a closing note.)
TEST_F(SettingsSaveTest, ClosingNotesNeverUndoASave) {
  struct Case {
    const char* name;
    std::string file;
    const char* closingNote;  // kept once, or nullptr
  };
  const Case cases[] = {
      {"CR LF lines", "[APP]\r\nTOP=10\r\n; last note\r\n", "; last note"},
      {"an entry behind a lone carriage return", "[APP]\nTOP=10\n; last note\rTOP=120\n", nullptr},
      {"a lone carriage return ends the file", "[APP]\nTOP=10\n; note\rTOP=120\r; end\r", "; end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir::Write(path, c.file);
    TIniFile(path).WriteInteger("APP", "TOP", 123);
    EXPECT_EQ(TIniFile(path).ReadInteger("APP", "TOP", 0), 123) << TempDir::Read(path);
    TIniFile(path).WriteInteger("APP", "TOP", 124);
    const std::string text = TempDir::Read(path);
    EXPECT_EQ(TIniFile(path).ReadInteger("APP", "TOP", 0), 124) << text;
    EXPECT_EQ(text.find("120"), std::string::npos) << text;
    if (c.closingNote == nullptr) continue;
    EXPECT_NE(text.find(c.closingNote), std::string::npos) << text;
    EXPECT_EQ(text.find(c.closingNote), text.rfind(c.closingNote)) << text;
  }
}

TEST_F(SettingsSaveTest, SaveKeepsTheFilesModeAndALinkToIt) {
  const std::string real = dir.File("shared.ini");
  TempDir::Write(real, "[APP]\nTOP=1\n");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  std::filesystem::create_symlink(real, path);

  TIniFile(path).WriteInteger("APP", "TOP", 2);

  EXPECT_TRUE(std::filesystem::is_symlink(path)) << "the link was replaced by a file";
  EXPECT_EQ(TIniFile(real).ReadInteger("APP", "TOP", 0), 2);
  struct stat st {};
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
