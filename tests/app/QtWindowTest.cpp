// The main window on the Qt front end (offscreen): what the technician sees, the error box of a
// failed open, and a whole erase against a byte-level device on a pseudo-terminal, in real
// time with the real event thread and the termios engine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Form1Layout.h"
#include "app/ModuleState.h"
#include "app/Unit1.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"
#include "serial/driver/DeviceMap.h"
#include "tests/app/PtyDevice.h"
#include "tests/gui/QtTestApp.h"

namespace {

using gui::qt::QtBackend;

class QtWindowTest : public ::testing::Test {
 protected:
  QtWindowTest() {
    rt::MarkMainThread();
    qttest::Application();
    app::ResetModuleState();
    drv::ClearDeviceMappings();
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + "|" + text);
    });
    backend.SetOpenDocumentHook([this](const std::string& a) { opened.push_back(a); });
    dir = std::filesystem::temp_directory_path() /
          ("zw-app-qt-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir);
  }
  ~QtWindowTest() override {
    form.reset();
    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(dir);
    gui::App().SetBackend(nullptr);
    drv::ClearDeviceMappings();
    app::ResetModuleState();
  }

  // COM1 opens this device (through the settings file, as a technician would map it).
  void MapCom1To(const std::string& device) {
    std::ofstream(dir / "Zanowipe.ini") << "[PORTS]\nCOM1=" << device << "\n";
  }
  void CreateForm() {
    form = std::make_unique<TForm1>();
    backend.CreatePeers(*form);
    backend.Show(*form);
  }
  template <typename W>
  W* Native(const gui::Control& c) {
    return qobject_cast<W*>(QtBackend::WidgetOf(c));
  }

  QtBackend backend;
  std::filesystem::path dir, previousDir;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> boxes;
  std::vector<std::string> opened;
};

TEST_F(QtWindowTest, EveryControlShowsItsLayout) {
  CreateForm();
  QWidget* window = QtBackend::WindowOf(*form);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), " Users data cleaner");
  EXPECT_EQ(window->size(), QSize(297, 198));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());

  for (const app::ControlLayout& c : app::Form1Controls()) {
    SCOPED_TRACE(c.Name);
    const gui::Control* model = form->Find(c.Name);
    ASSERT_NE(model, nullptr);
    QWidget* w = QtBackend::WidgetOf(*model);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(c.Bounds.Left, c.Bounds.Top));
    if (c.Kind != app::ControlKind::Label) {
      EXPECT_EQ(w->size(), QSize(c.Bounds.Width, c.Bounds.Height));
    }
    EXPECT_EQ(w->isEnabled(), c.Enabled);
    EXPECT_EQ(w->isVisible(), c.Visible);
    EXPECT_EQ(w->font().bold(), (c.FontStyle & gui::fsBold) != 0);
    EXPECT_EQ(w->font().underline(), (c.FontStyle & gui::fsUnderline) != 0);
  }
  EXPECT_EQ(Native<QPushButton>(form->cmdOpen)->text(), "Open COM");
  EXPECT_EQ(Native<QPushButton>(form->cmdClose)->text(), "Close COM");
  EXPECT_EQ(Native<QPushButton>(form->cmdErase)->text(), "Erase users data");
  EXPECT_EQ(Native<QCheckBox>(form->chkConf)->text(), "Include configuration");
  EXPECT_FALSE(Native<QCheckBox>(form->chkConf)->isChecked());
  EXPECT_EQ(Native<QLabel>(form->Label1)->text(), "PREPARED");
  EXPECT_EQ(Native<QLabel>(form->Label2)->text(), "STATUS:");
  EXPECT_EQ(Native<QLabel>(form->Label3)->text(), app::kLinkAddress);
  EXPECT_EQ(Native<QLabel>(form->Image1)->pixmap().size(), QSize(280, 93));
  for (const gui::Button* b : {&form->cmdOpen, &form->cmdClose, &form->cmdErase}) {
    EXPECT_FALSE(Native<QPushButton>(*b)->icon().isNull()) << b->Name();
  }
  EXPECT_FALSE(window->windowIcon().isNull());
  auto* combo = Native<QComboBox>(form->cboCOM);
  ASSERT_EQ(combo->count(), 8);
  EXPECT_EQ(combo->itemText(0), "COM1");
  EXPECT_EQ(combo->itemText(7), "COM8");
  EXPECT_EQ(combo->currentText(), "COM1");

  // Tab stops in order: the focus chain from "Open COM" meets the others in this order.
  const std::vector<QWidget*> stops = {
      QtBackend::WidgetOf(form->cmdOpen), QtBackend::WidgetOf(form->cmdClose),
      QtBackend::WidgetOf(form->cboCOM), QtBackend::WidgetOf(form->chkConf),
      QtBackend::WidgetOf(form->cmdErase)};
  std::vector<QWidget*> chain;
  QWidget* w = stops.front();
  for (int guard = 0; guard < 200 && chain.size() < stops.size(); ++guard) {
    if (std::find(stops.begin(), stops.end(), w) != stops.end() &&
        std::find(chain.begin(), chain.end(), w) == chain.end()) {
      chain.push_back(w);
    }
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(chain, stops);
  for (QWidget* label : {QtBackend::WidgetOf(form->Label1), QtBackend::WidgetOf(form->sBar)}) {
    EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
  }
}

TEST_F(QtWindowTest, FailedOpenShowsThePortError) {
  MapCom1To((dir / "no-such-device").string());
  CreateForm();
  Native<QPushButton>(form->cmdOpen)->click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Zanowipe|Unable to open com port (win error code: 2)");
  EXPECT_TRUE(Native<QPushButton>(form->cmdOpen)->isEnabled());
  EXPECT_FALSE(Native<QPushButton>(form->cmdClose)->isEnabled());
}

TEST_F(QtWindowTest, LinkLabelClickOpensTheAddress) {
  CreateForm();
  form->Label3.UserClick();
  EXPECT_EQ(opened, (std::vector<std::string>{app::kLinkAddress}));
}

TEST_F(QtWindowTest, WholeEraseAgainstADeviceOnAPseudoTerminal) {
  PtyDevice box;
  MapCom1To(box.SlavePath());
  CreateForm();
  Native<QPushButton>(form->cmdOpen)->click();
  ASSERT_TRUE(form->Cx1.Connected()) << (boxes.empty() ? "" : boxes[0]);
  auto* status = qobject_cast<QLabel*>(
      QtBackend::WidgetOf(form->sBar)->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly));
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(), "COM Port opened, switch Box to Power ON");

  box.PowerOn(kBoxBootText, BoxConsole());
  ASSERT_TRUE(qttest::LoopUntil([&] { return form->cmdErase.Enabled(); }, 20000))
      << "status: " << form->sBar.PanelText();
  EXPECT_EQ(status->text(), "Receiver connected");
  EXPECT_TRUE(Native<QCheckBox>(form->chkConf)->isEnabled());

  Native<QCheckBox>(form->chkConf)->click();
  Native<QPushButton>(form->cmdErase)->click();
  EXPECT_EQ(Native<QLabel>(form->Label1)->text(), "WORKING");
  ASSERT_TRUE(qttest::LoopUntil([&] { return !form->Cx1.Connected(); }, 20000))
      << "status: " << form->sBar.PanelText();
  EXPECT_EQ(status->text(), "COM Port closed, please switch Box to Power OFF");
  EXPECT_EQ(Native<QLabel>(form->Label1)->text(), "COMPLETE");
  EXPECT_TRUE(Native<QPushButton>(form->cmdOpen)->isEnabled());
  box.Stop();

  // Line feeds until the prompt came (two, unless a tick beat the prompt), then the line.
  const std::string received = box.Received();
  const std::string line{app::EraseScriptWithConfig};
  ASSERT_GE(received.size(), line.size() + 3) << received;
  // The read-back of the range with the configuration.
  const std::string readBack = "crc32 a1b00000 500000\n";
  const std::size_t wakes = received.size() - line.size() - 1 - readBack.size();
  EXPECT_EQ(received.substr(0, wakes), std::string(wakes, '\n')) << received;
  EXPECT_GE(wakes, 2u);
  EXPECT_EQ(received.substr(wakes), line + "\n" + readBack);
  EXPECT_TRUE(boxes.empty()) << boxes[0];
}

}  // namespace
