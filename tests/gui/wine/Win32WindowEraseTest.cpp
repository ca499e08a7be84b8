// The window on the Win32 front end, under Wine on a virtual display, through a whole erase
// and its read-back with real timers: what the native status bar and state label show for
// each result. The Box is a script on the byte-level fake driver.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

#include "app/ModuleState.h"
#include "app/Unit1.h"
#include "gui/win32/Win32Backend.h"
#include "runtime/MainThread.h"
#include "tests/fakes/FakeCommDriver.h"
#include "tests/gui/wine/Win32Probe.h"

namespace {

using gui::win32::Win32Backend;

// Answers each line the tool sends with its echo, the words of the case and the prompt.
class ScriptedBox {
 public:
  ScriptedBox(fake::FakeCommDriver& fake, std::string eraseWords, std::string readBackWords)
      : fake_(fake), eraseWords_(std::move(eraseWords)), readBackWords_(std::move(readBackWords)) {
    fake_.OnWrite([this](const std::string& bytes) { Heard(bytes); });
  }
  ~ScriptedBox() { fake_.OnWrite(nullptr); }

 private:
  void Heard(const std::string& bytes) {
    if (bytes != "\n") {
      typed_ = bytes;
      return;
    }
    std::string words;
    if (typed_.rfind("protect off", 0) == 0) words = eraseWords_;
    if (typed_.rfind("crc32", 0) == 0) words = readBackWords_;
    fake_.Receive(typed_ + "\r\n" + words + "simbox> ");
    typed_.clear();
  }

  fake::FakeCommDriver& fake_;
  std::string eraseWords_, readBackWords_;
  std::string typed_;
};

std::string StatusBarText(HWND window) {
  for (HWND h : probe::Children(window)) {
    if (probe::ClassOf(h) != STATUSCLASSNAMEA) continue;
    char text[512] = {};
    SendMessageA(h, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
  }
  return "(no status bar)";
}

class Win32WindowErase : public ::testing::Test {
 protected:
  Win32WindowErase() {
    rt::MarkMainThread();
    app::ResetModuleState();
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    fake.AddDevice("COM1");
  }
  ~Win32WindowErase() override {
    gui::App().SetBackend(nullptr);
    app::ResetModuleState();
  }
  Win32Backend backend;
  fake::FakeCommDriver fake;
};

TEST_F(Win32WindowErase, TheNativeWindowShowsEachResultOfTheReadBack) {
  const std::string off = ", please switch Box to Power OFF";
  const std::string done = "Un-Protected 64 sectors\r\n... done\r\nErased 64 sectors\r\n";
  struct Case {
    const char* name;
    std::string readBackWords;
    const char* state;
    std::string status;
  };
  const Case cases[] = {
      {"erased", "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975\r\n", "COMPLETE",
       "COM Port closed" + off},
      {"not erased", "crc32 for a1c00000 ... a1ffffff ==> 1234abcd\r\n", "FAILED",
       "Erase failed: the range does not read back erased: crc32 1234abcd, expected 7d5b6975" +
           off},
      {"no crc32", "Unknown command 'crc32' - try 'help'\r\n", "UNVERIFIED",
       "Erase not verified: the console cannot read back: Unknown command 'crc32' - try 'help'" +
           off},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    app::ResetModuleState();
    ScriptedBox box(fake, done, c.readBackWords);
    TForm1 form(&fake);
    backend.CreatePeers(form);
    backend.Show(form);
    form.cmdOpen.UserClick();
    ASSERT_TRUE(form.Cx1.Connected());
    fake.Receive("SimBox boot loader\r\nHit Enter to stop autoboot:  3");
    ASSERT_TRUE(probe::PumpUntil(
        backend, [&] { return form.cmdErase.Enabled(); }, 20000))
        << form.sBar.PanelText();
    form.cmdErase.UserClick();
    ASSERT_TRUE(probe::PumpUntil(
        backend, [&] { return !form.Cx1.Connected(); }, 20000))
        << form.sBar.PanelText();
    const HWND window = Win32Backend::WindowOf(form);
    // A leading tab centres a status bar part's text.
    EXPECT_EQ(StatusBarText(window), "\t" + c.status);
    EXPECT_EQ(probe::TextOf(Win32Backend::HandleOf(form.Label1)), c.state);
    EXPECT_EQ(fake.Written().find("vfd ERASE FAILED\n") != std::string::npos,
              std::string(c.state) == "FAILED");
    fake.ClearWritten();
  }
}

}  // namespace
