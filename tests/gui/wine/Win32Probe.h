// Reading native windows the way another program would: class names, texts (by WM_GETTEXT,
// which also works across processes), styles and positions in the parent's client area.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace probe {

// Runs a window backend's message loop until pred() holds or timeoutMs passed.
template <typename Backend>
bool PumpUntil(Backend& backend, const std::function<bool()>& pred, int timeoutMs = 10000) {
  const DWORD end = GetTickCount() + timeoutMs;
  while (!pred() && static_cast<LONG>(end - GetTickCount()) > 0) {
    backend.ProcessMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return pred();
}

inline std::string ClassOf(HWND h) {
  char name[128] = {};
  GetClassNameA(h, name, sizeof name);
  return name;
}

inline std::string TextOf(HWND h) {
  char text[1024] = {};
  SendMessageTimeoutA(h, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      5000, nullptr);
  return text;
}

inline RECT ClientRectIn(HWND child, HWND parent) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> result;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM out) CALLBACK -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&result));
  return result;
}

// The direct child with this class and text, or nullptr.
inline HWND ChildWith(HWND parent, const std::string& cls, const std::string& text) {
  for (HWND h : Children(parent)) {
    if (GetParent(h) == parent && ClassOf(h) == cls && TextOf(h) == text) return h;
  }
  return nullptr;
}

// Polls (windows of other threads or processes have no event to wait on) until found or
// timeoutMs passed.
inline HWND WaitForWindow(const std::function<HWND()>& find, int timeoutMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (HWND h = find()) return h;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

// A visible top-level window of the given process (0: any) with this class and caption.
inline HWND TopLevel(DWORD processId, const std::string& cls, const std::string& caption) {
  struct Search {
    DWORD pid;
    std::string cls, caption;
    HWND found = nullptr;
  } s{processId, cls, caption};
  EnumWindows(
      [](HWND h, LPARAM p) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if ((s->pid == 0 || pid == s->pid) && IsWindowVisible(h) && ClassOf(h) == s->cls &&
            TextOf(h) == s->caption) {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// What an error box shows: its caption, its message text, whether it has an icon, its buttons.
struct MessageBoxView {
  std::string caption, text;
  bool hasIcon = false;
  std::vector<std::string> buttons;
};

inline MessageBoxView Read(HWND box) {
  MessageBoxView v;
  v.caption = TextOf(box);
  for (HWND h : Children(box)) {
    const std::string cls = ClassOf(h);
    const LONG style = GetWindowLongA(h, GWL_STYLE);
    if (cls == "Button") {
      v.buttons.push_back(TextOf(h));
    } else if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
      v.hasIcon = true;
    } else if (cls == "Static" && !TextOf(h).empty()) {
      v.text = TextOf(h);
    }
  }
  return v;
}

// Presses the box's OK button as a user would.
inline void PressOk(HWND box) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace probe
