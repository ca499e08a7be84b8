#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/win32/Win32Backend.h"
#include "gui/win32/Win32Peers.h"
#include "gui/win32/Win32Pictures.h"

namespace gui::win32 {
namespace {

constexpr const char* kPeerProperty = "ZanowipePeer";

std::string WindowText(HWND hwnd) {
  const int length = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, length)));
  return text;
}

void SetTextIfChanged(HWND hwnd, const std::string& text) {
  if (WindowText(hwnd) != text) SetWindowTextA(hwnd, text.c_str());
}

HWND CreateChild(const char* windowClass, DWORD style, HWND parent, int id) {
  return CreateWindowExA(0, windowClass, "", WS_CHILD | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleA(nullptr), nullptr);
}

class ButtonPeer : public ControlPeer {
 public:
  ButtonPeer(Win32Backend& backend, gui::Button& model, HWND parent, int id)
      : ControlPeer(backend, model), button_(model) {
    Attach(CreateChild("BUTTON", BS_PUSHBUTTON | WS_TABSTOP, parent, id));
    glyphs_ = LoadGlyph(model.Glyph());
    if (glyphs_) {
      BUTTON_IMAGELIST list{};
      list.himl = glyphs_;
      list.margin = RECT{4, 0, 0, 0};
      list.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
      SendMessageA(hwnd_, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
    }
  }
  ~ButtonPeer() override {
    if (glyphs_) ImageList_Destroy(glyphs_);
  }
  void Command(int code) override {
    if (code == BN_CLICKED) button_.UserClick();
  }

 protected:
  void SyncOwn() override { SetTextIfChanged(hwnd_, button_.Caption()); }

 private:
  gui::Button& button_;
  HIMAGELIST glyphs_ = nullptr;
};

class ComboBoxPeer : public ControlPeer {
 public:
  ComboBoxPeer(Win32Backend& backend, gui::ComboBox& model, HWND parent, int id)
      : ControlPeer(backend, model), combo_(model) {
    Attach(CreateChild("COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, parent,
                       id));
  }
  void Command(int code) override {
    if (syncing_) return;
    if (code == CBN_SELCHANGE) {
      combo_.UserSelect(static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0)));
    } else if (code == CBN_EDITCHANGE) {
      typing_ = true;
      combo_.UserEdit(WindowText(hwnd_));
      typing_ = false;
    }
  }

 protected:
  // The window's height includes the dropped-down list.
  int WindowHeight() const override {
    const int shown = std::min<int>(8, static_cast<int>(combo_.Items().size()));
    return combo_.Bounds().Height + shown * combo_.ItemHeight() + 4;
  }
  void SyncOwn() override {
    if (items_ != combo_.Items()) {
      items_ = combo_.Items();
      SendMessageA(hwnd_, CB_RESETCONTENT, 0, 0);
      for (const auto& item : items_) {
        SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      }
      SendMessageA(hwnd_, CB_SETITEMHEIGHT, 0, combo_.ItemHeight());
    }
    // Clearing the list's selection also clears the field; while the user types over a
    // selected entry the field already shows the model's text, and clearing it would lose the
    // caret.
    if (SendMessageA(hwnd_, CB_GETCURSEL, 0, 0) != combo_.ItemIndex() && !typing_) {
      SendMessageA(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(combo_.ItemIndex()), 0);
    }
    // With no entry selected the field keeps showing the model's text.
    SetTextIfChanged(hwnd_, combo_.Text());
  }

 private:
  gui::ComboBox& combo_;
  std::vector<std::string> items_;
  bool typing_ = false;  // inside the user's own edit of the field
};

class CheckBoxPeer : public ControlPeer {
 public:
  CheckBoxPeer(Win32Backend& backend, gui::CheckBox& model, HWND parent, int id)
      : ControlPeer(backend, model), check_(model) {
    Attach(CreateChild("BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, parent, id));
  }
  void Command(int code) override {
    if (code != BN_CLICKED || syncing_) return;
    // The model decides; the box then shows what it decided.
    check_.UserToggle();
    Sync();
  }

 protected:
  void SyncOwn() override {
    SetTextIfChanged(hwnd_, check_.Caption());
    SendMessageA(hwnd_, BM_SETCHECK, check_.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }

 private:
  gui::CheckBox& check_;
};

class LabelPeer : public ControlPeer {
 public:
  LabelPeer(Win32Backend& backend, gui::Label& model, HWND parent, int id)
      : ControlPeer(backend, model), label_(model) {
    Attach(CreateChild("STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY, parent, id));
  }
  void Command(int code) override {
    if (code == STN_CLICKED) label_.UserClick();
  }
  HBRUSH Colours(HDC dc) override {
    const gui::Color text = label_.Font().Colour;
    const gui::Color back = label_.BackColour();
    SetTextColor(dc, RGB(text.r, text.g, text.b));
    SetBkColor(dc, RGB(back.r, back.g, back.b));
    return backend_.BrushFor(back);
  }

 protected:
  void SyncOwn() override {
    SetTextIfChanged(hwnd_, label_.Caption());
    if (label_.AutoSize()) {
      HDC dc = GetDC(nullptr);
      HGDIOBJ old = SelectObject(dc, backend_.FontFor(label_.Font()));
      SIZE extent{};
      GetTextExtentPoint32A(dc, label_.Caption().c_str(), static_cast<int>(label_.Caption().size()),
                            &extent);
      TEXTMETRICA metrics{};
      GetTextMetricsA(dc, &metrics);
      SelectObject(dc, old);
      ReleaseDC(nullptr, dc);
      // Hinted glyphs can draw wider than their summed advances (by several pixels under
      // Wine); one average character of room keeps the last letters from being cut off.
      const int width = extent.cx > 0 ? extent.cx + metrics.tmAveCharWidth : 0;
      SetWindowPos(hwnd_, nullptr, 0, 0, width, label_.Bounds().Height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

 private:
  gui::Label& label_;
};

class ImagePeer : public ControlPeer {
 public:
  ImagePeer(Win32Backend& backend, gui::Image& model, HWND parent, int id)
      : ControlPeer(backend, model), image_(model) {
    Attach(CreateChild("STATIC", SS_BITMAP, parent, id));
  }
  ~ImagePeer() override {
    if (bitmap_) DeleteObject(bitmap_);
  }

 protected:
  void SyncOwn() override {
    if (loaded_ == image_.Picture() && bitmap_) return;
    loaded_ = image_.Picture();
    HBITMAP fresh = LoadPicture(loaded_);
    SendMessageA(hwnd_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(fresh));
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = fresh;
  }

 private:
  gui::Image& image_;
  std::string loaded_;
  HBITMAP bitmap_ = nullptr;
};

class StatusBarPeer : public ControlPeer {
 public:
  StatusBarPeer(Win32Backend& backend, gui::StatusBar& model, HWND parent, int id)
      : ControlPeer(backend, model), bar_(model) {
    // Placed by the layout, not docked by the control itself.
    Attach(CreateChild(STATUSCLASSNAMEA, CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, parent,
                       id));
  }

 protected:
  void SyncOwn() override {
    int edges[1] = {bar_.PanelWidth()};
    SendMessageA(hwnd_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(edges));
    // The status bar centres text after one tab and right-aligns it after two.
    const char* prefix = bar_.PanelAlignment() == gui::Alignment::Centre  ? "\t"
                         : bar_.PanelAlignment() == gui::Alignment::Right ? "\t\t"
                                                                          : "";
    const std::string text = bar_.PanelText().empty() ? "" : prefix + bar_.PanelText();
    SendMessageA(hwnd_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }

 private:
  gui::StatusBar& bar_;
};

}  // namespace

ControlPeer::~ControlPeer() {
  if (hwnd_) {
    RemovePropA(hwnd_, kPeerProperty);
    DestroyWindow(hwnd_);
  }
}

ControlPeer* ControlPeer::From(HWND hwnd) {
  if (!hwnd) return nullptr;
  return static_cast<ControlPeer*>(GetPropA(hwnd, kPeerProperty));
}

void ControlPeer::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  if (hwnd_) SetPropA(hwnd_, kPeerProperty, this);
}

HBRUSH ControlPeer::Colours(HDC dc) {
  const gui::Color back = model_.Owner().Colour();
  SetBkColor(dc, RGB(back.r, back.g, back.b));
  return backend_.BrushFor(back);
}

void ControlPeer::Sync() {
  if (!hwnd_ || syncing_) return;
  syncing_ = true;
  const gui::Rect r = model_.Bounds();
  MoveWindow(hwnd_, r.Left, r.Top, r.Width, WindowHeight(), TRUE);
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(backend_.FontFor(model_.Font())), TRUE);
  SyncOwn();
  if ((IsWindowEnabled(hwnd_) != FALSE) != model_.Enabled()) EnableWindow(hwnd_, model_.Enabled());
  const bool shown = (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != model_.Visible()) {
    ShowWindow(hwnd_, model_.Visible() ? SW_SHOWNA : SW_HIDE);
  }
  syncing_ = false;
}

std::unique_ptr<ControlPeer> MakeControlPeer(Win32Backend& backend, gui::Control& control,
                                             HWND parent, int id) {
  if (auto* b = dynamic_cast<gui::Button*>(&control))
    return std::make_unique<ButtonPeer>(backend, *b, parent, id);
  if (auto* c = dynamic_cast<gui::ComboBox*>(&control))
    return std::make_unique<ComboBoxPeer>(backend, *c, parent, id);
  if (auto* k = dynamic_cast<gui::CheckBox*>(&control))
    return std::make_unique<CheckBoxPeer>(backend, *k, parent, id);
  if (auto* l = dynamic_cast<gui::Label*>(&control))
    return std::make_unique<LabelPeer>(backend, *l, parent, id);
  if (auto* i = dynamic_cast<gui::Image*>(&control))
    return std::make_unique<ImagePeer>(backend, *i, parent, id);
  if (auto* s = dynamic_cast<gui::StatusBar*>(&control))
    return std::make_unique<StatusBarPeer>(backend, *s, parent, id);
  return nullptr;
}

void ApplyTabOrder(const gui::Form& form) {
  std::vector<const gui::Control*> stops;
  for (const auto& c : form.Controls()) {
    auto* peer = dynamic_cast<ControlPeer*>(c->GetPeer());
    if (!peer || !peer->Handle()) continue;
    if (c->TabOrder() >= 0) {
      stops.push_back(c.get());
    } else {
      const LONG style = GetWindowLongA(peer->Handle(), GWL_STYLE);
      if (style & WS_TABSTOP) SetWindowLongA(peer->Handle(), GWL_STYLE, style & ~WS_TABSTOP);
    }
  }
  std::stable_sort(stops.begin(), stops.end(), [](const gui::Control* a, const gui::Control* b) {
    return a->TabOrder() < b->TabOrder();
  });
  // Dialog navigation follows the children's Z order: put the stops first, in order.
  HWND after = HWND_TOP;
  for (const gui::Control* c : stops) {
    HWND h = static_cast<ControlPeer*>(c->GetPeer())->Handle();
    SetWindowPos(h, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = h;
  }
}

}  // namespace gui::win32
