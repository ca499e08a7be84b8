// The Qt backend against a small form of its own: widgets follow the models, user input
// reaches the models, the loop serves handed-over calls, and the error box is the system's.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "gui/Forms.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"
#include "tests/gui/QtTestApp.h"

namespace {

using gui::qt::QtBackend;

class QtBackendTest : public ::testing::Test {
 protected:
  QtBackendTest() {
    qttest::Application();
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + "|" + text);
    });
    backend.SetOpenDocumentHook([this](const std::string& a) { opened.push_back(a); });
    form.SetCaption(" Test window");
    form.SetClientSize(297, 198);
    form.SetLeft(120);
    form.SetTop(90);
    form.SetIcon("ICON_WINDOW");
  }
  ~QtBackendTest() override { gui::App().SetBackend(nullptr); }

  template <typename W>
  W* Native(const gui::Control& c) {
    return qobject_cast<W*>(QtBackend::WidgetOf(c));
  }

  QtBackend backend;
  gui::Form form{"Form1"};
  std::vector<std::string> boxes;
  std::vector<std::string> opened;
};

TEST_F(QtBackendTest, WidgetsShowTheModelsGeometryTextsAndStates) {
  auto& open = form.Add<gui::Button>("cmdOpen");
  open.SetBounds(80, 4, 101, 25);
  open.SetCaption("Open COM");
  open.SetGlyph("GLYPH_OPEN");
  auto& close = form.Add<gui::Button>("cmdClose");
  close.SetBounds(188, 4, 101, 25);
  close.SetCaption("Close COM");
  close.SetEnabled(false);
  auto& hidden = form.Add<gui::Image>("Image2");
  hidden.SetBounds(80, 164, 53, 14);
  hidden.SetPicture("HIDDEN");
  hidden.SetVisible(false);
  auto& logo = form.Add<gui::Image>("Image1");
  logo.SetBounds(8, 36, 280, 93);
  logo.SetPicture("LOGO");
  backend.CreatePeers(form);
  backend.Show(form);

  QWidget* window = QtBackend::WindowOf(form);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), " Test window");
  EXPECT_EQ(window->size(), QSize(297, 198));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the user cannot resize it";
  EXPECT_FALSE(window->windowIcon().isNull());

  auto* openButton = Native<QPushButton>(open);
  ASSERT_NE(openButton, nullptr);
  EXPECT_EQ(openButton->geometry(), QRect(80, 4, 101, 25));
  EXPECT_EQ(openButton->text(), "Open COM");
  EXPECT_TRUE(openButton->isEnabled());
  EXPECT_FALSE(openButton->icon().isNull());
  EXPECT_FALSE(Native<QPushButton>(close)->isEnabled());

  EXPECT_FALSE(Native<QLabel>(hidden)->isVisible());
  EXPECT_TRUE(Native<QLabel>(logo)->isVisible());
  EXPECT_EQ(Native<QLabel>(logo)->pixmap().size(), QSize(280, 93));

  close.SetEnabled(true);
  open.SetCaption("Reopen");
  EXPECT_TRUE(Native<QPushButton>(close)->isEnabled());
  EXPECT_EQ(openButton->text(), "Reopen");
}

TEST_F(QtBackendTest, GlyphMagentaIsTransparent) {
  auto& erase = form.Add<gui::Button>("cmdErase");
  erase.SetGlyph("GLYPH_ERASE");
  backend.CreatePeers(form);
  const QImage shown = Native<QPushButton>(erase)->icon().pixmap(16, 16).toImage();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(qAlpha(shown.pixel(0, 15)), 0) << "bottom-left pixel (the key colour)";
  bool anyOpaque = false;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const QRgb p = shown.pixel(x, y);
      if (qAlpha(p) == 0) continue;
      anyOpaque = true;
      EXPECT_FALSE(qRed(p) == 255 && qGreen(p) == 0 && qBlue(p) == 255)
          << "visible magenta at " << x << "," << y;
    }
  }
  EXPECT_TRUE(anyOpaque);
}

TEST_F(QtBackendTest, TabOrderFollowsTheModelsAndOtherControlsTakeNoFocus) {
  auto& b = form.Add<gui::Button>("b");        // order 2
  auto& a = form.Add<gui::ComboBox>("a");      // order 0
  auto& c = form.Add<gui::CheckBox>("c");      // order 1
  auto& none = form.Add<gui::Button>("none");  // not a tab stop
  b.SetTabOrder(2);
  a.SetTabOrder(0);
  c.SetTabOrder(1);
  backend.CreatePeers(form);

  std::vector<QWidget*> stops{QtBackend::WidgetOf(a), QtBackend::WidgetOf(c),
                              QtBackend::WidgetOf(b)};
  std::vector<QWidget*> seen;
  QWidget* w = stops[0];
  for (int i = 0; i < 50 && seen.size() < 3; ++i) {
    w = w->nextInFocusChain();
    if (std::find(stops.begin(), stops.end(), w) != stops.end() &&
        std::find(seen.begin(), seen.end(), w) == seen.end())
      seen.push_back(w);
  }
  EXPECT_EQ(seen, (std::vector<QWidget*>{stops[1], stops[2], stops[0]}));
  EXPECT_EQ(QtBackend::WidgetOf(none)->focusPolicy(), Qt::NoFocus);
}

TEST_F(QtBackendTest, ComboShowsTextWithNoEntrySelectedAndUserChoiceReachesTheModel) {
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetText("COM1");
  backend.CreatePeers(form);
  auto* box = Native<QComboBox>(combo);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isEditable());
  EXPECT_EQ(box->count(), 3);
  EXPECT_EQ(box->currentIndex(), -1);
  EXPECT_EQ(box->currentText(), "COM1");

  combo.SetItemIndex(2);
  EXPECT_EQ(box->currentIndex(), 2);
  EXPECT_EQ(box->currentText(), "COM3");

  // What a pick in the drop-down list sends.
  box->setCurrentIndex(1);
  emit box->activated(1);
  EXPECT_EQ(combo.ItemIndex(), 1);
  EXPECT_EQ(combo.Text(), "COM2");
}

TEST_F(QtBackendTest, TypingOverASelectedEntryKeepsTheFieldAndItsCursor) {
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetItemIndex(1);
  backend.CreatePeers(form);
  QLineEdit* field = Native<QComboBox>(combo)->lineEdit();
  field->setText("CO2");
  field->setCursorPosition(2);
  emit field->textEdited("CO2");  // what a keystroke sends
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.Text(), "CO2");
  EXPECT_EQ(field->text(), "CO2");
  EXPECT_EQ(field->cursorPosition(), 2);
}

TEST_F(QtBackendTest, ClicksReachHandlersOnlyWhileEnabledAndFailuresGoToTheErrorBox) {
  auto& button = form.Add<gui::Button>("cmdOpen");
  int clicks = 0;
  button.OnClick = [&](TObject*) {
    ++clicks;
    throw Exception("Unable to open com port (win error code: 2)");
  };
  auto& check = form.Add<gui::CheckBox>("chkConf");
  check.SetCaption("Include configuration");
  check.SetEnabled(false);
  backend.CreatePeers(form);
  backend.Show(form);

  Native<QPushButton>(button)->click();
  EXPECT_EQ(clicks, 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Zanowipe|Unable to open com port (win error code: 2)");

  button.SetEnabled(false);
  Native<QPushButton>(button)->click();
  EXPECT_EQ(clicks, 1) << "a disabled button takes no user click";
  button.Click();
  EXPECT_EQ(clicks, 2) << "a performed click runs anyway";

  Native<QCheckBox>(check)->click();
  EXPECT_FALSE(check.Checked());
  check.SetEnabled(true);
  Native<QCheckBox>(check)->click();
  EXPECT_TRUE(check.Checked());
  EXPECT_TRUE(Native<QCheckBox>(check)->isChecked());
}

TEST_F(QtBackendTest, LinkLabelHasItsLookAndAMouseClickRunsItsHandler) {
  auto& link = form.Add<gui::Label>("Label3");
  link.SetBounds(8, 164, 67, 13);
  link.SetCaption("www.zanowipe.example");
  gui::Font f;
  f.Style = gui::fsUnderline;
  f.Colour = gui::clNavy;
  link.SetFont(f);
  link.SetHandCursor(true);
  link.OnClick = [&](TObject*) { gui::App().GetBackend()->OpenDocument(link.Caption()); };
  auto& state = form.Add<gui::Label>("Label1");
  f.Style = gui::fsBold;
  f.Colour = gui::clTeal;
  state.SetFont(f);
  state.SetCaption("PREPARED");
  backend.CreatePeers(form);
  backend.Show(form);

  auto* label = Native<QLabel>(link);
  EXPECT_TRUE(label->font().underline());
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
  auto* stateLabel = Native<QLabel>(state);
  EXPECT_TRUE(stateLabel->font().bold());
  EXPECT_EQ(stateLabel->palette().color(QPalette::WindowText), QColor(0, 128, 128));
  EXPECT_EQ(stateLabel->font().pixelSize(), 11);
  EXPECT_TRUE(QFontDatabase::families().contains(QFontInfo(stateLabel->font()).family()))
      << "a family that is really there: " << QFontInfo(stateLabel->font()).family().toStdString();

  const QPointF inside(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, inside, label->mapToGlobal(inside), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, inside, label->mapToGlobal(inside),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(label, &press);
  QCoreApplication::sendEvent(label, &release);
  EXPECT_EQ(opened, std::vector<std::string>{"www.zanowipe.example"});
}

TEST_F(QtBackendTest, StatusBarPanelIsCentredWithTheGivenWidth) {
  auto& bar = form.Add<gui::StatusBar>("sBar");
  bar.SetBounds(0, 179, 297, 19);
  bar.SetPanelWidth(250);
  bar.SetPanelAlignment(gui::Alignment::Centre);
  backend.CreatePeers(form);
  bar.SetPanelText("COM Port opened, switch Box to Power ON");
  auto* panel = QtBackend::WidgetOf(bar)->findChild<QLabel*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->width(), 250);
  EXPECT_EQ(panel->text(), "COM Port opened, switch Box to Power ON");
  EXPECT_TRUE(panel->alignment() & Qt::AlignHCenter);
}

TEST_F(QtBackendTest, HandedOverCallsRunOnTheQtLoop) {
  std::atomic<bool> ran{false};
  int fromSynchronize = 0;
  std::thread worker([&] {
    rt::Post([&] { ran = rt::IsMainThread(); });
    rt::Synchronize([&] { fromSynchronize = 7; });
  });
  EXPECT_TRUE(qttest::LoopUntil([&] { return ran.load() && fromSynchronize == 7; }));
  worker.join();
}

TEST_F(QtBackendTest, TimerTicksAndIsNotReEnteredByANestedLoop) {
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(20);
  int ticks = 0;
  int depth = 0;
  int maxDepth = 0;
  t.OnTimer = [&](TObject*) {
    ++ticks;
    maxDepth = std::max(maxDepth, ++depth);
    if (ticks == 1) qttest::LoopFor(200);  // periods of this timer pass inside the tick
    --depth;
  };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  EXPECT_TRUE(qttest::LoopUntil([&] { return ticks >= 3; }));
  t.SetEnabled(false);
  EXPECT_EQ(maxDepth, 1);
}

TEST_F(QtBackendTest, CloseGoesThroughTheFormsHandlerAndEndsRun) {
  int asked = 0;
  form.OnClose = [&](TObject*, gui::TCloseAction& action) {
    if (++asked == 1) action = gui::caNone;
  };
  backend.CreatePeers(form);
  backend.Show(form);
  QWidget* window = QtBackend::WindowOf(form);
  window->close();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(window->isVisible()) << "caNone keeps the window";
  form.Close();
  EXPECT_FALSE(form.Closed()) << "a posted close waits for the loop";
  gui::App().Run(form);
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(window->isVisible());
}

// Every position the window is moved to, in order.
class MoveRecorder : public QObject {
 public:
  std::vector<QPoint> moves;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Move) moves.push_back(static_cast<QMoveEvent*>(event)->pos());
    return false;
  }
};

// A drag ends in one move; the form takes both coordinates from it and the window is not
// sent through the corner of the new left and the old top.
TEST_F(QtBackendTest, MovingTheWindowUpdatesTheFormAndMovesTheWindowOnce) {
  backend.CreatePeers(form);
  backend.Show(form);
  QWidget* window = QtBackend::WindowOf(form);
  qttest::LoopFor(100);
  MoveRecorder recorder;
  window->installEventFilter(&recorder);

  window->move(333, 222);
  qttest::LoopFor(200);
  EXPECT_EQ(form.Left(), window->frameGeometry().x());
  EXPECT_EQ(form.Top(), window->frameGeometry().y());
  EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(333, 222));
  ASSERT_EQ(recorder.moves.size(), 1u) << "moves for one move to 333,222";
  window->removeEventFilter(&recorder);
}

// Before the window is shown its frame is guessed, never smaller than the client area; once
// shown it is the window's own.
TEST_F(QtBackendTest, OuterSizeIsTheWindowWithItsFrame) {
  backend.CreatePeers(form);
  const gui::Size guessed = backend.OuterSize(form);
  EXPECT_GE(guessed.Width, 297);
  EXPECT_GT(guessed.Height, 198) << "a caption above the client area";
  backend.Show(form);
  const QRect frame = QtBackend::WindowOf(form)->frameGeometry();
  EXPECT_EQ(backend.OuterSize(form), (gui::Size{frame.width(), frame.height()}));
}

TEST_F(QtBackendTest, ErrorBoxIsACriticalMessageBoxWithTheTitleAndOneOkButton) {
  backend.SetErrorBoxHook(nullptr);
  backend.CreatePeers(form);
  backend.Show(form);
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  // Looks at the box from inside its own loop, then dismisses it as a user would.
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  gui::Dispatch([] { throw Exception("Unable to write to /ro/Zanowipe.ini"); });
  EXPECT_EQ(title, "Zanowipe");
  EXPECT_EQ(text, "Unable to write to /ro/Zanowipe.ini.");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, 1);
}

}  // namespace
