// A settings file that cannot be read, that holds garbage or numbers out of range, or that
// cannot be written: the window still starts at a reachable place with a usable port choice,
// and a failed save is shown once while the window still closes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/SettingsFile.h"
#include "tests/faults/WindowRun.h"

namespace faults {
namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool OnScreen(TForm1& form) {
  return form.Left() >= 0 && form.Top() >= 0 && form.Left() < 1920 && form.Top() < 1080;
}

TEST(SettingsFaults, BinaryGarbageStartsWithDefaultsAndIsReplacedByAReadableSave) {
  ScratchDir dir;
  std::mt19937 random(7);
  std::string garbage;
  for (int i = 0; i < 64 * 1024; ++i) garbage += static_cast<char>(random() & 0xFF);
  WriteBytes(dir.File("Zanowipe.ini"), garbage);
  {
    WindowRun run(dir.Path());
    EXPECT_TRUE(OnScreen(run.Form()));
    EXPECT_EQ(run.Form().cboCOM.ItemIndex(), -1);
    run.Form().cboCOM.SetItemIndex(2);
    run.CloseWindow();
    EXPECT_TRUE(run.ErrorTexts().empty());
  }
  app::TIniFile saved(dir.File("Zanowipe.ini"));
  EXPECT_EQ(saved.ReadInteger("APP", "COM PORT", 0), 3);
  WindowRun again(dir.Path());
  EXPECT_EQ(again.Form().cboCOM.ItemIndex(), 2);
}

TEST(SettingsFaults, HugeAndMalformedNumbersFallBackToTheDefaults) {
  ScratchDir dir;
  WriteBytes(dir.File("Zanowipe.ini"),
             "[APP]\nTOP=99999999999999999999999\nLEFT=0x1FFFFFFFF\nCOM PORT=4294967298\n");
  WindowRun run(dir.Path());
  EXPECT_EQ(run.Form().Top(), 200);
  EXPECT_EQ(run.Form().Left(), 200);
  EXPECT_EQ(run.Form().cboCOM.ItemIndex(), -1);
  EXPECT_EQ(run.Form().cboCOM.Text(), "COM1");

  ScratchDir edge;
  WriteBytes(edge.File("Zanowipe.ini"), "[APP]\nTOP=2147483647\nLEFT=-2147483648\nCOM PORT=-1\n");
  WindowRun extreme(edge.Path());
  EXPECT_TRUE(OnScreen(extreme.Form())) << extreme.Form().Left() << "," << extreme.Form().Top();
  EXPECT_EQ(extreme.Form().cboCOM.ItemIndex(), -1);
}

// A directory where the file should be: unreadable and unwritable, even for root.
TEST(SettingsFaults, UnreadableFileStartsWithDefaultsAndTheFailedSaveIsShownOnce) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.File("Zanowipe.ini"));
  WindowRun run(dir.Path());
  EXPECT_EQ(run.Form().Top(), 200);
  EXPECT_EQ(run.Form().cboCOM.ItemIndex(), -1);
  run.CloseWindow();
  EXPECT_TRUE(run.Form().Closed());
  EXPECT_EQ(run.ErrorTexts(),
            std::vector<std::string>{"Unable to write to " + dir.Path() + "/Zanowipe.ini."});
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("Zanowipe.ini")));
}

// Started in a directory where nobody, root included, may create a file.
TEST(SettingsFaults, ReadOnlyDirectoryStartsNormallyAndTheFailedSaveIsShownOnce) {
  WindowRun run("/proc");
  EXPECT_EQ(run.Form().Top(), 200);
  run.CloseWindow();
  EXPECT_TRUE(run.Form().Closed());
  EXPECT_EQ(run.ErrorTexts(), std::vector<std::string>{"Unable to write to /proc/Zanowipe.ini."});
  EXPECT_FALSE(std::filesystem::exists("/proc/Zanowipe.ini"));
}

// A disk that fills while the window closes (here a file size limit, with the signal that
// would end the program ignored): the file keeps every byte, the failure is shown once, and
// the window still closes. In a child, so that the limit ends with it.
TEST(SettingsFaults, SaveOnAFullDiskKeepsTheFileAndIsShownOnce) {
  ScratchDir dir;
  const std::string path = dir.File("Zanowipe.ini");
  const std::string old = "; bench notes\n[PORTS]\nCOM1=/dev/ttyACM0\n[APP]\nTOP=10\nLEFT=20\n";
  WriteBytes(path, old);
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_FSIZE, &none) != 0) _exit(10);
    WindowRun run(dir.Path());
    run.Form().cboCOM.SetItemIndex(4);
    run.CloseWindow();
    if (!run.Form().Closed()) _exit(11);
    const std::vector<std::string> expected{"Unable to write to " + path + "."};
    _exit(run.ErrorTexts() == expected ? 0 : run.ErrorTexts().empty() ? 12 : 13);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 no limit, 11 window stayed open, 12 no error shown, "
                                       "13 another error";
  EXPECT_EQ(ReadBytes(path), old);
}

// A file the user may not read (root reads anything, so this runs in a child that has given
// up root): defaults, and the save refuses to overwrite what it could not read.
TEST(SettingsFaults, FileWithoutReadPermissionGivesDefaultsAndIsNotOverwritten) {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no unprivileged account on this machine";
  ScratchDir dir;
  const std::string path = dir.File("Zanowipe.ini");
  WriteBytes(path, "[APP]\nTOP=10\nLEFT=20\nCOM PORT=3\n");
  ASSERT_EQ(chmod(path.c_str(), 0222), 0);  // writable, not readable
  ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0 || geteuid() == 0) _exit(10);
    app::TIniFile ini(path);
    if (ini.ReadInteger("APP", "TOP", 200) != 200) _exit(11);
    if (ini.ReadInteger("APP", "COM PORT", 0) != 0) _exit(12);
    try {
      ini.WriteInteger("APP", "TOP", 99);
      _exit(13);
    } catch (const app::EIniFileException& e) {
      _exit(std::string(e.what()) == "Unable to write to " + path ? 0 : 14);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 still root, 11/12 not the defaults, 13 overwritten, "
                                       "14 another message";
  EXPECT_EQ(ReadBytes(path), "[APP]\nTOP=10\nLEFT=20\nCOM PORT=3\n");
}

}  // namespace
}  // namespace faults
