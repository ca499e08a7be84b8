#include "gui/win32/Win32Backend.h"
#include "gui/win32/Win32Peers.h"
#include "gui/win32/Win32Pictures.h"

namespace gui::win32 {
namespace {

// A fixed frame: caption, system menu, minimise box; no sizing border, no maximise box.
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

void RegisterFormClass(WNDPROC procedure) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = ProgramIcon(32);
  wc.lpszClassName = FormPeer::ClassName();
  registered = RegisterClassExA(&wc) != 0;
}

}  // namespace

const char* FormPeer::ClassName() {
  return "ZanowipeForm";
}

FormPeer* FormPeer::From(HWND hwnd) {
  return reinterpret_cast<FormPeer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

FormPeer::FormPeer(Win32Backend& backend, gui::Form& form) : backend_(backend), form_(form) {
  RegisterFormClass(&FormPeer::Procedure);
  const SIZE outer = OuterSizeFor(form_);
  syncing_ = true;
  hwnd_ = CreateWindowExA(kFormExStyle, ClassName(), form.Caption().c_str(), kFormStyle,
                          form.Left(), form.Top(), outer.cx, outer.cy, nullptr, nullptr,
                          GetModuleHandleA(nullptr), this);
  syncing_ = false;
  if (HICON big = ProgramIcon(32)) SendMessageA(hwnd_, WM_SETICON, ICON_BIG, (LPARAM)big);
}

FormPeer::~FormPeer() {
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

SIZE FormPeer::OuterSizeFor(const gui::Form& form) {
  RECT r{0, 0, form.ClientWidth(), form.ClientHeight()};
  AdjustWindowRectEx(&r, kFormStyle, FALSE, kFormExStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void FormPeer::Sync() {
  if (!hwnd_ || syncing_) return;
  syncing_ = true;
  char current[512] = {};
  GetWindowTextA(hwnd_, current, sizeof current);
  if (form_.Caption() != current) SetWindowTextA(hwnd_, form_.Caption().c_str());
  const SIZE outer = OuterSizeFor(form_);
  RECT r{};
  GetWindowRect(hwnd_, &r);
  if (r.left != form_.Left() || r.top != form_.Top() || r.right - r.left != outer.cx ||
      r.bottom - r.top != outer.cy) {
    SetWindowPos(hwnd_, nullptr, form_.Left(), form_.Top(), outer.cx, outer.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (HICON small = LoadIconSized(form_.Icon(), 16)) {
    HICON old = (HICON)SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, (LPARAM)small);
    if (old && old != small) DestroyIcon(old);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
  syncing_ = false;
  if (form_.Closed() && !closedSeen_) {
    closedSeen_ = true;
    ShowWindow(hwnd_, SW_HIDE);
  }
}

LRESULT CALLBACK FormPeer::Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* peer = static_cast<FormPeer*>(create->lpCreateParams);
    peer->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(peer));
  }
  FormPeer* peer = From(hwnd);
  if (!peer) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return peer->Handle(msg, wParam, lParam);
}

LRESULT FormPeer::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (ControlPeer* c = ControlPeer::From(reinterpret_cast<HWND>(lParam))) {
        c->Command(HIWORD(wParam));
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      auto dc = reinterpret_cast<HDC>(wParam);
      if (ControlPeer* c = ControlPeer::From(reinterpret_cast<HWND>(lParam))) {
        return reinterpret_cast<LRESULT>(c->Colours(dc));
      }
      break;
    }
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, backend_.BrushFor(form_.Colour()));
      return 1;
    }
    case WM_SETCURSOR: {
      ControlPeer* c = ControlPeer::From(reinterpret_cast<HWND>(wParam));
      if (c && c->Model().HandCursor() && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_TIMER: {
      auto it = timers_.find(wParam);
      if (it != timers_.end() && !form_.Closed()) it->second->Tick();
      return 0;
    }
    case WM_MOVE:
      if (!syncing_ && IsWindowVisible(hwnd_) && !IsIconic(hwnd_)) {
        // Left and Top are the outer position, as the settings file stores it.
        RECT r;
        GetWindowRect(hwnd_, &r);
        form_.SetPosition(r.left, r.top);
      }
      break;
    case WM_CLOSE:
      if (!form_.Closed()) form_.RequestClose();
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

TimerPeer::TimerPeer(FormPeer& form, gui::Timer& timer) : form_(form), id_(form.NextTimerId()) {
  form_.AddTimer(id_, &timer);
}

TimerPeer::~TimerPeer() {
  KillTimer(form_.Handle(), id_);
  form_.RemoveTimer(id_);
}

// SetTimer on an existing id starts a new period, which is what Start means.
void TimerPeer::Start(int intervalMs) {
  SetTimer(form_.Handle(), id_, intervalMs, nullptr);
}

void TimerPeer::Stop() {
  KillTimer(form_.Handle(), id_);
}

}  // namespace gui::win32
