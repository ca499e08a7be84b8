// The Win32 backend against a small form of its own, under Wine on a virtual display: the
// native controls follow the models, notifications reach the models, the loop serves
// handed-over calls, and the error box is MessageBoxA's.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "gui/Forms.h"
#include "gui/win32/Win32Backend.h"
#include "runtime/MainThread.h"
#include "tests/gui/wine/Win32Probe.h"

namespace {

using gui::win32::Win32Backend;

class Win32BackendTest : public ::testing::Test {
 protected:
  Win32BackendTest() {
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    form.SetCaption(" Test window");
    form.SetClientSize(297, 198);
    form.SetLeft(140);
    form.SetTop(110);
    form.SetIcon("ICON_WINDOW");
  }
  ~Win32BackendTest() override { gui::App().SetBackend(nullptr); }

  Win32Backend backend;
  gui::Form form{"Form1"};
};

TEST_F(Win32BackendTest, NativeControlsShowTheModelsClassesTextsPlacesAndStates) {
  auto& open = form.Add<gui::Button>("cmdOpen");
  open.SetBounds(80, 4, 101, 25);
  open.SetCaption("Open COM");
  open.SetGlyph("GLYPH_OPEN");
  auto& close = form.Add<gui::Button>("cmdClose");
  close.SetBounds(188, 4, 101, 25);
  close.SetCaption("Close COM");
  close.SetEnabled(false);
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetBounds(8, 6, 65, 21);
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetText("COM1");
  auto& check = form.Add<gui::CheckBox>("chkConf");
  check.SetBounds(164, 140, 121, 17);
  check.SetCaption("Include configuration");
  check.SetEnabled(false);
  auto& label = form.Add<gui::Label>("Label1");
  label.SetBounds(216, 164, 68, 13);
  label.SetCaption("PREPARED");
  auto& hidden = form.Add<gui::Image>("Image2");
  hidden.SetBounds(80, 164, 53, 14);
  hidden.SetPicture("HIDDEN");
  hidden.SetVisible(false);
  auto& bar = form.Add<gui::StatusBar>("sBar");
  bar.SetBounds(0, 179, 297, 19);
  bar.SetPanelWidth(250);
  bar.SetPanelAlignment(gui::Alignment::Centre);
  backend.CreatePeers(form);
  backend.Show(form);

  HWND window = Win32Backend::WindowOf(form);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(probe::TextOf(window), " Test window");
  RECT client{}, outer{};
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  EXPECT_EQ(client.right, 297);
  EXPECT_EQ(client.bottom, 198);
  EXPECT_EQ(outer.left, 140);
  EXPECT_EQ(outer.top, 110);
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME, 0) << "fixed size";

  struct Expected {
    const gui::Control& model;
    const char* cls;
    const char* text;
    bool enabled;
    RECT place;
  };
  const Expected expected[] = {
      {open, "Button", "Open COM", true, {80, 4, 181, 29}},
      {close, "Button", "Close COM", false, {188, 4, 289, 29}},
      {combo, "ComboBox", "COM1", true, {8, 6, 73, 0}},
      {check, "Button", "Include configuration", false, {164, 140, 285, 157}},
      {label, "Static", "PREPARED", true, {216, 164, 0, 177}},
  };
  for (const auto& e : expected) {
    HWND h = Win32Backend::HandleOf(e.model);
    ASSERT_NE(h, nullptr) << e.text;
    EXPECT_EQ(probe::ClassOf(h), e.cls) << e.text;
    EXPECT_EQ(probe::TextOf(h), e.text);
    EXPECT_EQ(IsWindowEnabled(h) != FALSE, e.enabled) << e.text;
    const RECT r = probe::ClientRectIn(h, window);
    EXPECT_EQ(r.left, e.place.left) << e.text;
    EXPECT_EQ(r.top, e.place.top) << e.text;
    if (e.place.right) {
      EXPECT_EQ(r.right, e.place.right) << e.text;
    }
    if (e.place.bottom) {
      EXPECT_EQ(r.bottom, e.place.bottom) << e.text;
    }
  }
  EXPECT_EQ(GetWindowLongA(Win32Backend::HandleOf(open), GWL_STYLE) & 0xF, BS_PUSHBUTTON);
  EXPECT_EQ(GetWindowLongA(Win32Backend::HandleOf(combo), GWL_STYLE) & 3, CBS_DROPDOWN);
  EXPECT_EQ(GetWindowLongA(Win32Backend::HandleOf(check), GWL_STYLE) & 0xF, BS_AUTOCHECKBOX);
  EXPECT_TRUE(GetWindowLongA(Win32Backend::HandleOf(label), GWL_STYLE) & SS_NOTIFY);
  EXPECT_FALSE(IsWindowVisible(Win32Backend::HandleOf(hidden)));
  EXPECT_EQ(GetWindowLongA(Win32Backend::HandleOf(hidden), GWL_STYLE) & SS_TYPEMASK, SS_BITMAP);

  HWND status = Win32Backend::HandleOf(bar);
  EXPECT_EQ(probe::ClassOf(status), STATUSCLASSNAMEA);
  int edges[4] = {};
  EXPECT_EQ(SendMessageA(status, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 1);
  EXPECT_EQ(edges[0], 250);
  bar.SetPanelText("COM Port opened, switch Box to Power ON");
  char text[256] = {};
  SendMessageA(status, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "\tCOM Port opened, switch Box to Power ON") << "a tab centres the text";

  close.SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(Win32Backend::HandleOf(close)));
}

TEST_F(Win32BackendTest, ComboKeepsItsTextWithNoSelectionAndTakesTheUsersPick) {
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetBounds(8, 6, 65, 21);
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetText("COM1");
  backend.CreatePeers(form);
  HWND h = Win32Backend::HandleOf(combo);
  EXPECT_EQ(SendMessageA(h, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(probe::TextOf(h), "COM1");
  combo.SetItemIndex(2);
  EXPECT_EQ(SendMessageA(h, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(probe::TextOf(h), "COM3");

  // A pick in the list: the control selects, then tells its parent.
  SendMessageA(h, CB_SETCURSEL, 1, 0);
  SendMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(h));
  EXPECT_EQ(combo.ItemIndex(), 1);
  EXPECT_EQ(combo.Text(), "COM2");
}

TEST_F(Win32BackendTest, TypingOverASelectedEntryKeepsTheFieldAndItsCaret) {
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetBounds(8, 6, 65, 21);
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetItemIndex(1);
  backend.CreatePeers(form);
  HWND h = Win32Backend::HandleOf(combo);
  HWND field = FindWindowExA(h, nullptr, "Edit", nullptr);
  ASSERT_NE(field, nullptr);
  SetWindowTextA(field, "CO2");
  SendMessageA(field, EM_SETSEL, 2, 2);
  // What a keystroke makes the control tell its parent.
  SendMessageA(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), CBN_EDITCHANGE),
               reinterpret_cast<LPARAM>(h));
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.Text(), "CO2");
  EXPECT_EQ(probe::TextOf(h), "CO2");
  DWORD start = 0, end = 0;
  SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(end, 2u);
}

TEST_F(Win32BackendTest, ClicksRunHandlersOnlyWhileEnabledButAPerformedClickAlways) {
  auto& button = form.Add<gui::Button>("cmdClose");
  button.SetBounds(10, 10, 100, 25);
  button.SetCaption("Close COM");
  int clicks = 0;
  button.OnClick = [&](TObject*) { ++clicks; };
  auto& check = form.Add<gui::CheckBox>("chkConf");
  check.SetBounds(10, 40, 120, 17);
  backend.CreatePeers(form);
  backend.Show(form);
  HWND h = Win32Backend::HandleOf(button);

  SendMessageA(h, BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  button.SetEnabled(false);
  SendMessageA(h, BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1) << "a disabled button takes no user click";
  button.Click();
  EXPECT_EQ(clicks, 2) << "a performed click runs anyway";

  SendMessageA(Win32Backend::HandleOf(check), BM_CLICK, 0, 0);
  EXPECT_TRUE(check.Checked());
  EXPECT_EQ(SendMessageA(Win32Backend::HandleOf(check), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Win32BackendTest, TabMovesThroughTheStopsInTheModelsOrder) {
  auto& b = form.Add<gui::Button>("b");
  auto& a = form.Add<gui::ComboBox>("a");
  auto& c = form.Add<gui::CheckBox>("c");
  auto& none = form.Add<gui::Button>("none");
  b.SetTabOrder(2);
  a.SetTabOrder(0);
  c.SetTabOrder(1);
  for (gui::Control* x : {static_cast<gui::Control*>(&a), static_cast<gui::Control*>(&b),
                          static_cast<gui::Control*>(&c), static_cast<gui::Control*>(&none)}) {
    x->SetBounds(10, 10, 80, 20);
  }
  backend.CreatePeers(form);
  backend.Show(form);
  HWND window = Win32Backend::WindowOf(form);
  HWND first = GetNextDlgTabItem(window, nullptr, FALSE);
  EXPECT_EQ(first, Win32Backend::HandleOf(a));
  HWND second = GetNextDlgTabItem(window, Win32Backend::HandleOf(a), FALSE);
  EXPECT_EQ(second, Win32Backend::HandleOf(c));
  EXPECT_EQ(GetNextDlgTabItem(window, second, FALSE), Win32Backend::HandleOf(b));
  EXPECT_EQ(GetWindowLongA(Win32Backend::HandleOf(none), GWL_STYLE) & WS_TABSTOP, 0);
}

TEST_F(Win32BackendTest, HandedOverCallsRunFromTheMessageLoop) {
  backend.CreatePeers(form);
  std::atomic<bool> posted{false};
  int synced = 0;
  std::thread worker([&] {
    rt::Post([&] { posted = rt::IsMainThread(); });
    rt::Synchronize([&] { synced = 5; });
  });
  EXPECT_TRUE(probe::PumpUntil(backend, [&] { return posted.load() && synced == 5; }));
  worker.join();
}

TEST_F(Win32BackendTest, ErrorBoxIsMessageBoxWithErrorIconAndOkAndTheTimerWaitsForIt) {
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(30);
  std::atomic<int> ticks{0};
  t.OnTimer = [&](TObject*) {
    if (++ticks == 1) throw Exception("Write failed (win error code: 6)");
  };
  backend.CreatePeers(form);
  backend.Show(form);

  probe::MessageBoxView seen;
  int ticksWhileOpen = -1;
  std::thread user([&] {
    HWND box = probe::WaitForWindow(
        [] { return probe::TopLevel(GetCurrentProcessId(), "#32770", "Zanowipe"); });
    if (!box) return;
    const int before = ticks;
    Sleep(400);  // about 13 periods of the timer pass while the box is open
    ticksWhileOpen = ticks - before;
    seen = probe::Read(box);
    probe::PressOk(box);
  });
  t.SetEnabled(true);
  EXPECT_TRUE(probe::PumpUntil(
      backend, [&] { return ticks >= 3; }, 20000));
  t.SetEnabled(false);
  user.join();
  EXPECT_EQ(seen.caption, "Zanowipe");
  EXPECT_EQ(seen.text, "Write failed (win error code: 6)");
  EXPECT_TRUE(seen.hasIcon);
  EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(ticksWhileOpen, 0) << "no tick while the previous one's box is open";
}

TEST_F(Win32BackendTest, CloseAsksTheFormAndMovingTheWindowUpdatesItsPosition) {
  int asked = 0;
  form.OnClose = [&](TObject*, gui::TCloseAction& action) {
    if (++asked == 1) action = gui::caNone;
  };
  backend.CreatePeers(form);
  backend.Show(form);
  HWND window = Win32Backend::WindowOf(form);

  SetWindowPos(window, nullptr, 333, 222, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(form.Left(), 333);
  EXPECT_EQ(form.Top(), 222);

  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(IsWindowVisible(window)) << "caNone keeps the window";
  form.Close();
  gui::App().Run(form);
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(IsWindowVisible(window));
}

// Where the form's window went, one entry per WM_MOVE.
std::vector<POINT> windowMoves;
WNDPROC formProcedure = nullptr;

LRESULT CALLBACK RecordMoves(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MOVE) {
    RECT r;
    GetWindowRect(hwnd, &r);
    windowMoves.push_back(POINT{r.left, r.top});
  }
  return CallWindowProcA(formProcedure, hwnd, msg, wParam, lParam);
}

// A drag ends in one move; the form takes both coordinates from it and the window is not
// sent through the corner of the new left and the old top.
TEST_F(Win32BackendTest, MovingTheWindowMovesItOnceAndTheFormFollows) {
  backend.CreatePeers(form);
  backend.Show(form);
  HWND window = Win32Backend::WindowOf(form);
  windowMoves.clear();
  formProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordMoves)));

  SetWindowPos(window, nullptr, 333, 222, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(formProcedure));
  EXPECT_EQ(form.Left(), 333);
  EXPECT_EQ(form.Top(), 222);
  ASSERT_EQ(windowMoves.size(), 1u) << "moves for one move to 333,222";
  EXPECT_EQ(windowMoves[0].x, 333);
  EXPECT_EQ(windowMoves[0].y, 222);
}

// The outer size the backend reports is the native window's.
TEST_F(Win32BackendTest, OuterSizeIsTheWindowWithItsFrame) {
  const gui::Size before = backend.OuterSize(form);
  backend.CreatePeers(form);
  RECT r;
  GetWindowRect(Win32Backend::WindowOf(form), &r);
  EXPECT_EQ(before.Width, r.right - r.left);
  EXPECT_EQ(before.Height, r.bottom - r.top);
  EXPECT_GT(before.Width, 297);
  EXPECT_GT(before.Height, 198);
}

TEST_F(Win32BackendTest, ScreensListThePrimaryWorkAreaFirst) {
  const auto screens = backend.Screens();
  ASSERT_FALSE(screens.empty());
  EXPECT_EQ(screens[0].Left, 0);
  EXPECT_GT(screens[0].Width, 0);
  EXPECT_GT(screens[0].Height, 0);
}

}  // namespace
