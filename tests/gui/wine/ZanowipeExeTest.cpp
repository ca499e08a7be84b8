// Zanowipe.exe as a user meets it, driven from outside the process: the window and its
// controls at start, the settings file read at start and written at close, and the error box
// of a failed open. Every COM port of the test prefix maps to a device that does not exist.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/gui/wine/Win32Probe.h"

namespace {

constexpr const char* kCaption = " Users data cleaner";

std::string ProgramPath() {
  std::string path = "Z:" ZW_PROGRAM_PATH;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// A fresh current directory for one start of the program, removed afterwards.
class WorkDir {
 public:
  WorkDir() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    static int serial = 0;
    path_ = std::string(temp) + "zw-gui-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~WorkDir() {
    DeleteFileA(Ini().c_str());
    RemoveDirectoryA(path_.c_str());
  }
  const std::string& Path() const { return path_; }
  std::string Ini() const { return path_ + "\\Zanowipe.ini"; }
  void Write(const std::string& text) const {
    FILE* f = std::fopen(Ini().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  int Read(const char* key) const {
    return static_cast<int>(GetPrivateProfileIntA("APP", key, -999, Ini().c_str()));
  }
  bool HasIni() const { return GetFileAttributesA(Ini().c_str()) != INVALID_FILE_ATTRIBUTES; }

 private:
  std::string path_;
};

// One run of Zanowipe.exe in a given current directory.
class Program {
 public:
  explicit Program(const WorkDir& dir) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string app = ProgramPath();
    started_ = CreateProcessA(app.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                              dir.Path().c_str(), &si, &pi_) != FALSE;
    if (started_) {
      window_ = probe::WaitForWindow(
          [this] { return probe::TopLevel(pi_.dwProcessId, "ZanowipeForm", kCaption); });
    }
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool Started() const { return started_; }
  HWND Window() const { return window_; }
  DWORD Id() const { return pi_.dwProcessId; }
  HWND Control(const char* cls, const char* text) const {
    return probe::ChildWith(window_, cls, text);
  }
  // Closes the window as its close box would; true when the program then ends by itself.
  bool CloseAndWait() {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    DWORD code = 1;
    if (WaitForSingleObject(pi_.hProcess, 20000) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code == 0;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION pi_{};
  HWND window_ = nullptr;
};

struct ExpectedControl {
  const char* cls;
  const char* text;
  RECT place;  // left, top, right, bottom in the client area; right 0: width not checked
  bool enabled;
};

TEST(ZanowipeExe, FirstStartShowsTheLayoutAtTheDefaultPlaceAndSavesAtClose) {
  WorkDir dir;
  Program program(dir);
  ASSERT_TRUE(program.Started()) << ProgramPath();
  ASSERT_NE(program.Window(), nullptr) << "no main window";

  RECT outer{}, client{};
  GetWindowRect(program.Window(), &outer);
  GetClientRect(program.Window(), &client);
  EXPECT_EQ(outer.left, 200);
  EXPECT_EQ(outer.top, 200);
  EXPECT_EQ(client.right, 297);
  EXPECT_EQ(client.bottom, 198);

  const ExpectedControl expected[] = {
      {"Button", "Open COM", {80, 4, 181, 29}, true},
      {"Button", "Close COM", {188, 4, 289, 29}, false},
      {"Button", "Include configuration", {164, 140, 285, 157}, false},
      {"Button", "Erase users data", {8, 136, 157, 161}, false},
      {"Static", "PREPARED", {216, 164, 0, 177}, true},
      {"Static", "STATUS:", {156, 164, 0, 177}, true},
  };
  for (const auto& e : expected) {
    HWND h = program.Control(e.cls, e.text);
    ASSERT_NE(h, nullptr) << e.cls << " \"" << e.text << "\"";
    EXPECT_EQ(IsWindowEnabled(h) != FALSE, e.enabled) << e.text;
    const RECT r = probe::ClientRectIn(h, program.Window());
    EXPECT_EQ(r.left, e.place.left) << e.text;
    EXPECT_EQ(r.top, e.place.top) << e.text;
    if (e.place.right) {
      EXPECT_EQ(r.right, e.place.right) << e.text;
    }
    EXPECT_EQ(r.bottom, e.place.bottom) << e.text;
  }

  HWND combo = nullptr;
  HWND status = nullptr;
  int pictures = 0, visiblePictures = 0;
  for (HWND h : probe::Children(program.Window())) {
    if (GetParent(h) != program.Window()) continue;
    const std::string cls = probe::ClassOf(h);
    if (cls == "ComboBox") combo = h;
    if (cls == STATUSCLASSNAMEA) status = h;
    if (cls == "Static" && (GetWindowLongA(h, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) {
      ++pictures;
      if (IsWindowVisible(h)) ++visiblePictures;
    }
  }
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 8);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR) << "no entry selected";
  EXPECT_EQ(probe::TextOf(combo), "COM1") << "while the field shows COM1";
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(LOWORD(SendMessageA(status, SB_GETTEXTLENGTHA, 0, 0)), 0) << "empty status text";
  EXPECT_EQ(pictures, 2);
  EXPECT_EQ(visiblePictures, 1) << "the small picture stays hidden";

  EXPECT_FALSE(dir.HasIni()) << "reading creates nothing";
  ASSERT_TRUE(program.CloseAndWait());
  EXPECT_EQ(dir.Read("TOP"), 200);
  EXPECT_EQ(dir.Read("LEFT"), 200);
  EXPECT_EQ(dir.Read("COM PORT"), 0);
}

TEST(ZanowipeExe, SavedPlaceAndPortAreRestoredAndTheUsersChangesSaved) {
  WorkDir dir;
  dir.Write("[APP]\r\nTOP=150\r\nLEFT=120\r\nCOM PORT=3\r\n[OTHER]\r\nKEEP=1\r\n");
  Program program(dir);
  ASSERT_NE(program.Window(), nullptr);
  RECT outer{};
  GetWindowRect(program.Window(), &outer);
  EXPECT_EQ(outer.left, 120);
  EXPECT_EQ(outer.top, 150);
  HWND combo = nullptr;
  for (HWND h : probe::Children(program.Window())) {
    if (probe::ClassOf(h) == "ComboBox") combo = h;
  }
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(probe::TextOf(combo), "COM3");

  // The user drags the window and picks COM5.
  SetWindowPos(program.Window(), nullptr, 300, 240, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SendMessageA(combo, CB_SETCURSEL, 4, 0);
  SendMessageA(program.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));

  ASSERT_TRUE(program.CloseAndWait());
  EXPECT_EQ(dir.Read("TOP"), 240);
  EXPECT_EQ(dir.Read("LEFT"), 300);
  EXPECT_EQ(dir.Read("COM PORT"), 5);
  EXPECT_EQ(GetPrivateProfileIntA("OTHER", "KEEP", 0, dir.Ini().c_str()), 1);
}

TEST(ZanowipeExe, FailedOpenShowsTheErrorBoxAndLeavesTheWindowAsItWas) {
  WorkDir dir;
  dir.Write("[APP]\r\nCOM PORT=2\r\n");
  Program program(dir);
  ASSERT_NE(program.Window(), nullptr);
  HWND open = program.Control("Button", "Open COM");
  ASSERT_NE(open, nullptr);

  // Posted: the click's handler shows a modal box, and a sent message would wait for it.
  PostMessageA(open, BM_CLICK, 0, 0);
  HWND box =
      probe::WaitForWindow([&] { return probe::TopLevel(program.Id(), "#32770", "Zanowipe"); });
  ASSERT_NE(box, nullptr) << "no error box";
  const probe::MessageBoxView seen = probe::Read(box);
  // Wine 8 opens a COM port whose device is missing (the port's device object exists) and
  // fails its first setting instead; on Windows the open itself fails with code 2.
  EXPECT_EQ(seen.text, "SetCommState function failed (win error code: 1)");
  EXPECT_TRUE(seen.hasIcon);
  EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
  probe::PressOk(box);
  EXPECT_TRUE(probe::WaitForWindow([&]() -> HWND {
    return IsWindow(box) ? nullptr : program.Window();
  })) << "the box goes away";

  EXPECT_TRUE(IsWindowEnabled(open));
  EXPECT_FALSE(IsWindowEnabled(program.Control("Button", "Close COM")));
  EXPECT_FALSE(IsWindowEnabled(program.Control("Button", "Erase users data")));
  EXPECT_FALSE(IsWindowEnabled(program.Control("Button", "Include configuration")));
  EXPECT_NE(program.Control("Static", "PREPARED"), nullptr);
  ASSERT_TRUE(program.CloseAndWait());
  EXPECT_EQ(dir.Read("COM PORT"), 2);
}

}  // namespace
