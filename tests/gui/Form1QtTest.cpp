// The main window on the Qt front end (offscreen): every control where the layout puts it,
// with its text, state, look and tab order; and a failed open's error box, intercepted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Form1Layout.h"
#include "app/Unit1.h"
#include "gui/qt/QtBackend.h"
#include "serial/driver/DeviceMap.h"
#include "tests/gui/QtTestApp.h"

namespace {

using gui::qt::QtBackend;

// Runs the test in a fresh current directory, whose settings file sends COM1 to a device
// that does not exist (never to a real port).
class Form1QtTest : public ::testing::Test {
 protected:
  Form1QtTest() {
    qttest::Application();
    char pattern[] = "/tmp/zw-form1-qt-XXXXXX";
    dir_ = mkdtemp(pattern);
    old_ = getcwd(nullptr, 0);
    EXPECT_EQ(chdir(dir_.c_str()), 0);
    std::ofstream(dir_ + "/Zanowipe.ini") << "[PORTS]\nCOM1=" << dir_ << "/missing-tty\n";
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + "|" + text);
    });
    backend.SetOpenDocumentHook([this](const std::string& a) { opened.push_back(a); });
  }
  ~Form1QtTest() override {
    gui::App().SetBackend(nullptr);
    drv::ClearDeviceMappings();
    if (chdir(old_) != 0) std::perror("chdir");
    std::free(old_);
    std::remove((dir_ + "/Zanowipe.ini").c_str());
    rmdir(dir_.c_str());
  }
  std::string Settings() const {
    std::ifstream in(dir_ + "/Zanowipe.ini");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  template <typename W>
  static W* Native(const gui::Control& c) {
    return qobject_cast<W*>(QtBackend::WidgetOf(c));
  }

  QtBackend backend;
  std::vector<std::string> boxes;
  std::vector<std::string> opened;

 private:
  std::string dir_;
  char* old_ = nullptr;
};

TEST_F(Form1QtTest, EveryControlHasItsPlaceTextStateAndLook) {
  TForm1 form;
  backend.CreatePeers(form);
  backend.Show(form);
  QWidget* window = QtBackend::WindowOf(form);
  EXPECT_EQ(window->windowTitle(), " Users data cleaner");
  EXPECT_EQ(window->size(), QSize(297, 198));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(200, 200)) << "no settings file yet";

  struct Expected {
    const gui::Control& control;
    QRect place;
    const char* text;
    bool enabled;
  };
  const Expected buttons[] = {
      {form.cmdOpen, {80, 4, 101, 25}, "Open COM", true},
      {form.cmdClose, {188, 4, 101, 25}, "Close COM", false},
      {form.cmdErase, {8, 136, 149, 25}, "Erase users data", false},
  };
  for (const auto& e : buttons) {
    auto* b = Native<QPushButton>(e.control);
    ASSERT_NE(b, nullptr) << e.text;
    EXPECT_EQ(b->geometry(), e.place) << e.text;
    EXPECT_EQ(b->text(), e.text);
    EXPECT_EQ(b->isEnabled(), e.enabled) << e.text;
    EXPECT_FALSE(b->icon().isNull()) << e.text << " has a glyph";
  }
  auto* check = Native<QCheckBox>(form.chkConf);
  EXPECT_EQ(check->geometry(), QRect(164, 140, 121, 17));
  EXPECT_EQ(check->text(), "Include configuration");
  EXPECT_FALSE(check->isEnabled());
  EXPECT_FALSE(check->isChecked());

  auto* combo = Native<QComboBox>(form.cboCOM);
  EXPECT_EQ(combo->geometry(), QRect(8, 6, 65, 21));
  EXPECT_TRUE(combo->isEnabled());
  EXPECT_EQ(combo->count(), 8);
  EXPECT_EQ(combo->currentIndex(), -1);
  EXPECT_EQ(combo->currentText(), "COM1");

  struct ExpectedLabel {
    const gui::Label& label;
    QPoint at;
    const char* text;
    bool bold, underline;
    QColor colour;
  };
  const ExpectedLabel labels[] = {
      {form.Label1, {216, 164}, "PREPARED", true, false, QColor(0, 128, 128)},
      {form.Label2, {156, 164}, "STATUS:", true, false, QColor(0, 0, 0)},
      {form.Label3, {8, 164}, app::kLinkAddress, false, true, QColor(0, 0, 128)},
  };
  for (const auto& e : labels) {
    auto* l = Native<QLabel>(e.label);
    ASSERT_NE(l, nullptr) << e.text;
    EXPECT_EQ(l->pos(), e.at) << e.text;
    EXPECT_EQ(l->height(), 13) << e.text;
    EXPECT_EQ(l->text(), e.text);
    EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text())) << e.text << " fits";
    EXPECT_EQ(l->font().bold(), e.bold) << e.text;
    EXPECT_EQ(l->font().underline(), e.underline) << e.text;
    EXPECT_EQ(l->palette().color(QPalette::WindowText), e.colour) << e.text;
  }
  EXPECT_EQ(Native<QLabel>(form.Label3)->cursor().shape(), Qt::PointingHandCursor);

  auto* logo = Native<QLabel>(form.Image1);
  EXPECT_EQ(logo->geometry(), QRect(8, 36, 280, 93));
  EXPECT_TRUE(logo->isVisible());
  EXPECT_EQ(logo->pixmap().size(), QSize(280, 93));
  auto* hidden = Native<QLabel>(form.Image2);
  EXPECT_EQ(hidden->pos(), QPoint(80, 164));
  EXPECT_FALSE(hidden->isVisible());
  EXPECT_EQ(hidden->pixmap().size(), QSize(51, 14));

  QWidget* bar = QtBackend::WidgetOf(form.sBar);
  EXPECT_EQ(bar->geometry(), QRect(0, 179, 297, 19));
  auto* panel = bar->findChild<QLabel*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->width(), 250);
  EXPECT_TRUE(panel->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(panel->text().isEmpty());
}

TEST_F(Form1QtTest, TabStopsRunOpenCloseListCheckEraseAndNothingElseTakesFocus) {
  TForm1 form;
  backend.CreatePeers(form);
  backend.Show(form);
  // Enabled or not, the order is the layout's.
  const std::vector<QWidget*> stops{
      QtBackend::WidgetOf(form.cmdOpen), QtBackend::WidgetOf(form.cmdClose),
      QtBackend::WidgetOf(form.cboCOM), QtBackend::WidgetOf(form.chkConf),
      QtBackend::WidgetOf(form.cmdErase)};
  std::vector<QWidget*> seen{stops[0]};
  QWidget* w = stops[0];
  for (int i = 0; i < 100 && seen.size() < stops.size(); ++i) {
    w = w->nextInFocusChain();
    if (std::find(stops.begin(), stops.end(), w) != stops.end() &&
        std::find(seen.begin(), seen.end(), w) == seen.end())
      seen.push_back(w);
  }
  EXPECT_EQ(seen, stops);
  for (const gui::Control* c : {static_cast<const gui::Control*>(&form.Label3),
                                static_cast<const gui::Control*>(&form.Image1)}) {
    EXPECT_EQ(QtBackend::WidgetOf(*c)->focusPolicy(), Qt::NoFocus) << c->Name();
  }
}

TEST_F(Form1QtTest, FailedOpenShowsTheErrorBoxAndLeavesEveryControlAsItWas) {
  TForm1 form;
  backend.CreatePeers(form);
  backend.Show(form);
  Native<QPushButton>(form.cmdOpen)->click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Zanowipe|Unable to open com port (win error code: 2)");
  EXPECT_TRUE(Native<QPushButton>(form.cmdOpen)->isEnabled());
  EXPECT_FALSE(Native<QPushButton>(form.cmdClose)->isEnabled());
  EXPECT_FALSE(Native<QPushButton>(form.cmdErase)->isEnabled());
  EXPECT_FALSE(Native<QCheckBox>(form.chkConf)->isEnabled());
  EXPECT_TRUE(QtBackend::WidgetOf(form.sBar)->findChild<QLabel*>()->text().isEmpty());
  EXPECT_EQ(Native<QLabel>(form.Label1)->text(), "PREPARED");
}

TEST_F(Form1QtTest, LinkOpensTheAddressAndClosingTheWindowSavesThePlaceAndPort) {
  TForm1 form;
  backend.CreatePeers(form);
  backend.Show(form);
  QLabel* link = Native<QLabel>(form.Label3);
  const QPointF inside(3, 3);
  QMouseEvent press(QEvent::MouseButtonPress, inside, link->mapToGlobal(inside), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, inside, link->mapToGlobal(inside), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(link, &press);
  QCoreApplication::sendEvent(link, &release);
  EXPECT_EQ(opened, std::vector<std::string>{app::kLinkAddress});

  auto* combo = Native<QComboBox>(form.cboCOM);
  combo->setCurrentIndex(3);
  emit combo->activated(3);
  QtBackend::WindowOf(form)->close();
  EXPECT_TRUE(form.Closed());
  const std::string saved = Settings();
  EXPECT_NE(saved.find("TOP=200"), std::string::npos) << saved;
  EXPECT_NE(saved.find("LEFT=200"), std::string::npos) << saved;
  EXPECT_NE(saved.find("COM PORT=4"), std::string::npos) << saved;
  EXPECT_NE(saved.find("missing-tty"), std::string::npos) << "other sections survive: " << saved;
}

}  // namespace
