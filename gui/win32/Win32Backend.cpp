#include "gui/win32/Win32Backend.h"

#include <commctrl.h>
#include <shellapi.h>

#include "gui/win32/Win32Peers.h"
#include "runtime/MainThread.h"

namespace gui::win32 {
namespace {

constexpr const char* kWakeClass = "ZanowipeApplication";
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL, which dialog keys send

LRESULT CALLBACK WakeProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NULL) {
    rt::ServeHandOver();
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The application's own window: workers post WM_NULL to it, and every loop that dispatches
// messages (ours, a nested pump, the error box's modal loop) then runs the handed-over calls.
HWND CreateWakeWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WakeProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWakeClass;
    registered = RegisterClassExA(&wc) != 0;
  }
  return CreateWindowExA(0, kWakeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM out) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoA(monitor, &info)) return TRUE;
  auto* screens = reinterpret_cast<std::vector<gui::Rect>*>(out);
  const RECT& w = info.rcWork;
  const gui::Rect r{w.left, w.top, w.right - w.left, w.bottom - w.top};
  if (info.dwFlags & MONITORINFOF_PRIMARY) {
    screens->insert(screens->begin(), r);
  } else {
    screens->push_back(r);
  }
  return TRUE;
}

}  // namespace

Win32Backend::Win32Backend() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  wakeWindow_ = CreateWakeWindow();
  HWND target = wakeWindow_;
  rt::SetMainThreadWakeup([target] { PostMessageA(target, WM_NULL, 0, 0); });
}

Win32Backend::~Win32Backend() {
  rt::SetMainThreadWakeup(nullptr);
  if (gui::App().GetBackend() == this) gui::App().SetBackend(nullptr);
  if (wakeWindow_) DestroyWindow(wakeWindow_);
  for (auto& [key, font] : fonts_) DeleteObject(font);
  for (auto& [key, brush] : brushes_) DeleteObject(brush);
}

HWND Win32Backend::WindowOf(const gui::Form& form) {
  auto* peer = dynamic_cast<Win32Peer*>(form.GetPeer());
  return peer ? peer->Handle() : nullptr;
}

HWND Win32Backend::HandleOf(const gui::Control& control) {
  auto* peer = dynamic_cast<Win32Peer*>(control.GetPeer());
  return peer ? peer->Handle() : nullptr;
}

HFONT Win32Backend::FontFor(const gui::Font& font) {
  const auto key = std::make_tuple(font.Name, font.Height, static_cast<int>(font.Style));
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  HFONT made = CreateFontA(font.Height, 0, 0, 0, (font.Style & gui::fsBold) ? FW_BOLD : FW_NORMAL,
                           (font.Style & gui::fsItalic) != 0, (font.Style & gui::fsUnderline) != 0,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, font.Name.c_str());
  fonts_[key] = made;
  return made;
}

HBRUSH Win32Backend::BrushFor(gui::Color colour) {
  const unsigned key = RGB(colour.r, colour.g, colour.b);
  auto it = brushes_.find(key);
  if (it != brushes_.end()) return it->second;
  HBRUSH made = CreateSolidBrush(key);
  brushes_[key] = made;
  return made;
}

void Win32Backend::CreatePeers(gui::Form& form) {
  auto formPeer = std::make_unique<FormPeer>(*this, form);
  FormPeer& fp = *formPeer;
  HWND window = fp.Handle();
  form.AttachPeer(std::move(formPeer));
  int id = kFirstControlId;
  for (const auto& c : form.Controls()) {
    if (auto peer = MakeControlPeer(*this, *c, window, id++)) c->AttachPeer(std::move(peer));
  }
  ApplyTabOrder(form);
  for (const auto& t : form.Timers()) t->AttachPeer(std::make_unique<TimerPeer>(fp, *t));
  if (!mainForm_) mainForm_ = &form;
}

void Win32Backend::Show(gui::Form& form) {
  HWND hwnd = WindowOf(form);
  if (!hwnd || form.Closed()) return;
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  // The first tab stop starts with the focus, so Tab moves on from there.
  HWND first = GetNextDlgTabItem(hwnd, nullptr, FALSE);
  if (first) SetFocus(first);
}

void Win32Backend::Dispatch(MSG& msg) {
  if (msg.hwnd == nullptr && msg.message == WM_NULL) {
    rt::ServeHandOver();
    return;
  }
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root && FormPeer::From(root) && IsDialogMessageA(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void Win32Backend::Run(gui::Form& form) {
  Show(form);
  while (!form.Closed()) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) break;
      Dispatch(msg);
      continue;
    }
    // Idle: calls handed over while the queue was busy run now, then the loop sleeps until
    // the next message (a wake-up is one).
    if (rt::ServeHandOver()) continue;
    WaitMessage();
  }
}

void Win32Backend::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the loop that owns the program's end.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
  rt::ServeHandOver();
}

void Win32Backend::ShowErrorBox(const std::string& caption, const std::string& text) {
  HWND owner = mainForm_ ? WindowOf(*mainForm_) : nullptr;
  if (owner && !IsWindowVisible(owner)) owner = nullptr;
  MessageBoxA(owner, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void Win32Backend::OpenDocument(const std::string& address) {
  HWND owner = mainForm_ ? WindowOf(*mainForm_) : nullptr;
  ShellExecuteA(owner, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::vector<gui::Rect> Win32Backend::Screens() {
  std::vector<gui::Rect> screens;
  EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&screens));
  return screens;
}

gui::Size Win32Backend::OuterSize(const gui::Form& form) {
  const SIZE outer = FormPeer::OuterSizeFor(form);
  return {outer.cx, outer.cy};
}

void Win32Backend::PostClose(gui::Form& form) {
  if (HWND hwnd = WindowOf(form)) {
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
  } else {
    form.RequestClose();
  }
}

}  // namespace gui::win32
