// The Qt window on the offscreen platform against boxsim, driven by clicks on its widgets
// through the whole road of one erase, with the flash checked byte for byte afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <cstdlib>
#include <functional>

#include "app/Unit1.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"
#include "serial/driver/DeviceMap.h"
#include "tests/e2e/E2eHelpers.h"
#include "tests/e2e/Ser2net.h"

namespace e2e {
namespace {

using gui::qt::QtBackend;

QApplication& Application() {
  static int argc = 1;
  static char name[] = "zanowipe-e2e-qt";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  rt::MarkMainThread();
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

bool LoopUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!pred() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return pred();
}

// The settings file lives in the directory that is current when the window is made.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) {
    char here[4096];
    saved_ = ::getcwd(here, sizeof here) ? here : "/";
    EXPECT_EQ(::chdir(dir.c_str()), 0);
  }
  ~InDirectory() { EXPECT_EQ(::chdir(saved_.c_str()), 0); }

 private:
  std::string saved_;
};

class QtWindowAgainstBox : public ::testing::Test {
 protected:
  QtWindowAgainstBox() {
    Application();
    gui::App().SetBackend(&backend_);
    backend_.SetErrorBoxHook([this](const std::string& caption, const std::string& text) {
      boxes_.push_back(caption + ": " + text);
    });
  }
  ~QtWindowAgainstBox() override {
    gui::App().SetBackend(nullptr);
    drv::ClearDeviceMappings();
  }

  static void Click(const gui::Control& control) {
    auto* button = qobject_cast<QAbstractButton*>(QtBackend::WidgetOf(control));
    ASSERT_NE(button, nullptr) << "no native button";
    button->click();
  }

  // The window on screen, its COM1 the Box's device.
  void ShowOn(TForm1& form, const SimulatedBox& box) {
    backend_.CreatePeers(form);
    backend_.Show(form);
    drv::SetDeviceMapping("COM1", box.Device());
  }

  // One erase from "Open COM" to the closed port; the Box boots afresh at every open.
  void EraseOnce(
      TForm1& form, bool includeConfig,
      const std::string& closedStatusStart = "COM Port closed, please switch Box to Power OFF",
      const std::string& stateWord = "COMPLETE") {
    SCOPED_TRACE(includeConfig ? "with configuration" : "user data only");
    Click(form.cmdOpen);
    ASSERT_TRUE(form.Cx1.Connected()) << (boxes_.empty() ? "" : boxes_[0]);
    EXPECT_EQ(form.sBar.PanelText(), "COM Port opened, switch Box to Power ON");

    ASSERT_TRUE(LoopUntil([&] { return form.sBar.PanelText() == "Receiver connected"; }, 30000))
        << form.sBar.PanelText();
    EXPECT_TRUE(form.cmdErase.Enabled());
    if (form.chkConf.Checked() != includeConfig) Click(form.chkConf);
    EXPECT_EQ(form.chkConf.Checked(), includeConfig);
    Click(form.cmdErase);
    EXPECT_EQ(form.Label1.Caption(), "WORKING");

    ASSERT_TRUE(LoopUntil([&] { return !form.Cx1.Connected(); }, 60000)) << form.sBar.PanelText();
    EXPECT_EQ(form.sBar.PanelText().rfind(closedStatusStart, 0), 0u) << form.sBar.PanelText();
    EXPECT_EQ(form.sBar.PanelText().substr(form.sBar.PanelText().size() - 30),
              "please switch Box to Power OFF");
    EXPECT_EQ(form.Label1.Caption(), stateWord);
    EXPECT_TRUE(form.cmdOpen.Enabled());
    EXPECT_TRUE(boxes_.empty()) << boxes_[0];
  }

  QtBackend backend_;
  std::vector<std::string> boxes_;
};

// Both command lines in one window, as a technician would: user data first, then, after the
// Box has been switched off and on, user data and configuration.
TEST_F(QtWindowAgainstBox, ClicksThroughBothErasesAndTheFlashShowsEach) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--sector-ms", "2", "--boot-ms", "300", "--chunk-random", "-v"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  InDirectory cwd(dir.Path());
  TForm1 form;
  ShowOn(form, box);

  EraseOnce(form, false);
  if (HasFatalFailure()) return;
  VerifyOutcome first = VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(first.status, 0) << "after the user data erase: " << first.text;

  // The next open must meet a Box that was switched off: wait until the sim saw the close.
  ASSERT_TRUE(LoopUntil(
      [&] { return box.Proc().Stderr().find("switched off") != std::string::npos; }, 10000));
  EraseOnce(form, true);
  if (HasFatalFailure()) return;
  VerifyOutcome second = VerifyFlash(dir, box.Image(), "a1b00000", "a1ffffff");
  EXPECT_EQ(second.status, 0) << "after the erase with configuration: " << second.text;
  form.RequestClose();
}

// A chip that refuses every write prints exactly the success text: the read-back finds the range
// as it was, the window says FAILED with the reason, and the Box's display is told so.
TEST_F(QtWindowAgainstBox, AWriteProtectedChipIsAFailedEraseNotACompleteOne) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--sector-ms", "2", "--boot-ms", "300", "--write-protected", "-v"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  InDirectory cwd(dir.Path());
  TForm1 form;
  ShowOn(form, box);

  EraseOnce(form, false, "Erase failed: the range does not read back erased: crc32 ", "FAILED");
  EXPECT_TRUE(LoopUntil(
      [&] {
        return box.Proc().Stderr().find("display shows \"ERASE FAILED\"") != std::string::npos;
      },
      10000))
      << box.Proc().Stderr();
  EXPECT_EQ(VerifyFlash(dir, box.Image()).status, 0) << "nothing may have been erased";
  form.RequestClose();
}

// The window's COM3 is a serial server's network port, named in the settings file as a
// technician would: the Box is reached through a real ser2net over RFC 2217.
TEST_F(QtWindowAgainstBox, ErasesABoxOnANetworkPortNamedInTheSettingsFile) {
  ScratchDir dir;
  // Switched on well after the open, which waits a moment for the server's confirmations.
  SimulatedBox box(dir, {"--sector-ms", "2", "--boot-ms", "300", "--power-on-delay", "1500"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  Ser2net server(box.Device(), Ser2net::Kind::kRfc2217, dir.Path());
  if (Ser2net::Program().empty()) GTEST_SKIP() << server.Problem();
  ASSERT_TRUE(server.Ready()) << server.Problem();
  WriteFile(dir.File("Zanowipe.ini"), "[APP]\nCOM PORT=3\n[PORTS]\nCOM3=" + server.Url() + "\n");
  InDirectory cwd(dir.Path());
  TForm1 form;
  backend_.CreatePeers(form);
  backend_.Show(form);
  ASSERT_EQ(form.cboCOM.ItemIndex(), 2) << "COM3 chosen from the settings file";

  EraseOnce(form, false);
  if (HasFatalFailure()) return;
  VerifyOutcome v = VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(v.status, 0) << "after the erase over " << server.Url() << ": " << v.text;
  form.RequestClose();
}

}  // namespace
}  // namespace e2e
