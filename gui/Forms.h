// A small forms framework: models that hold state and fire handlers, and a backend (Qt, Win32
// or headless) that shows them. The application's window logic talks only to these models, so
// the same handlers run under every backend and its tests need no display.
//
// Every handler runs through Dispatch(), which shows an escaping exception in the default
// error box and lets the program continue. A timer does not tick again while its previous
// tick, error box included, is still being handled. Enabling a running timer does not restart
// it; enabling a stopped one starts a full period.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Sys.h"

namespace gui {

class Form;
class Timer;

using TNotifyEvent = std::function<void(TObject* Sender)>;

struct Color {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(Color a, Color b) = default;
};
inline constexpr Color clBtnFace{240, 240, 240};
inline constexpr Color clWindowText{0, 0, 0};
inline constexpr Color clTeal{0, 128, 128};
inline constexpr Color clNavy{0, 0, 128};

enum FontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4 };

struct Font {
  std::string Name = "MS Sans Serif";
  int Height = -11;  // negative: character height in pixels at 96 dpi
  std::uint8_t Style = 0;
  Color Colour = clWindowText;
};

struct Rect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};

struct Size {
  int Width = 0, Height = 0;
  friend bool operator==(Size, Size) = default;
};

// What a backend attaches to a model: told to reflect the model's state after each change.
class Peer {
 public:
  virtual ~Peer() = default;
  virtual void Sync() = 0;
};

class Control : public TObject {
 public:
  Control(Form& owner, std::string name);
  const char* ClassName() const override { return "TControl"; }
  const std::string& Name() const { return name_; }
  Form& Owner() const { return owner_; }

  Rect Bounds() const { return bounds_; }
  void SetBounds(int left, int top, int width, int height);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  int TabOrder() const { return tabOrder_; }  // -1: not a tab stop
  void SetTabOrder(int value) { tabOrder_ = value; }
  const gui::Font& Font() const { return font_; }
  void SetFont(const gui::Font& value);
  Color BackColour() const { return backColour_; }
  void SetBackColour(Color value) { backColour_ = value; }
  bool HandCursor() const { return handCursor_; }
  void SetHandCursor(bool value) { handCursor_ = value; }

  void AttachPeer(std::unique_ptr<Peer> peer);
  Peer* GetPeer() const { return peer_.get(); }

 protected:
  void Changed();

 private:
  Form& owner_;
  std::string name_;
  Rect bounds_;
  bool enabled_ = true;
  bool visible_ = true;
  int tabOrder_ = -1;
  gui::Font font_;
  Color backColour_ = clBtnFace;
  bool handCursor_ = false;
  std::unique_ptr<Peer> peer_;
};

class Button : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TBitBtn"; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  // Resource name of the 16x16 glyph drawn left of the caption; bottom-left pixel transparent.
  const std::string& Glyph() const { return glyph_; }
  void SetGlyph(const std::string& value) { glyph_ = value; }
  TNotifyEvent OnClick;
  // A performed click: runs OnClick through the dispatch whether or not the button is enabled.
  void Click();
  // What a backend calls for a user's click: ignored while disabled.
  void UserClick();

 private:
  std::string caption_;
  std::string glyph_;
};

class ComboBox : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TComboBox"; }
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  // -1: no entry selected; the field may still show text. Out-of-range values select none.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int value);
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value);
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int value) { itemHeight_ = value; }
  // What a backend calls when the user picks an entry or edits the field.
  void UserSelect(int index);
  void UserEdit(const std::string& text);

 private:
  std::vector<std::string> items_;
  int itemIndex_ = -1;
  std::string text_;
  int itemHeight_ = 13;
};

class CheckBox : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TCheckBox"; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Checked() const { return checked_; }
  void SetChecked(bool value);
  void UserToggle();  // ignored while disabled

 private:
  std::string caption_;
  bool checked_ = false;
};

class Label : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TLabel"; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  // Shown as wide as its caption, growing rightwards from Left; Bounds keeps the designed size.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  TNotifyEvent OnClick;
  void UserClick();

 private:
  std::string caption_;
  bool autoSize_ = true;
};

class Image : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TImage"; }
  // Resource name of the picture (see resources/).
  const std::string& Picture() const { return picture_; }
  void SetPicture(const std::string& value) { picture_ = value; }

 private:
  std::string picture_;
};

enum class Alignment : std::uint8_t { Left, Centre, Right };

class StatusBar : public Control {
 public:
  using Control::Control;
  const char* ClassName() const override { return "TStatusBar"; }
  int PanelWidth() const { return panelWidth_; }
  void SetPanelWidth(int value) { panelWidth_ = value; }
  Alignment PanelAlignment() const { return alignment_; }
  void SetPanelAlignment(Alignment value) { alignment_ = value; }
  const std::string& PanelText() const { return text_; }
  void SetPanelText(const std::string& value);

 private:
  int panelWidth_ = 50;
  Alignment alignment_ = Alignment::Left;
  std::string text_;
};

// A backend's side of a timer.
class TimerPeer {
 public:
  virtual ~TimerPeer() = default;
  virtual void Start(int intervalMs) = 0;  // a full new period from now
  virtual void Stop() = 0;
};

class Timer : public TObject {
 public:
  explicit Timer(std::string name) : name_(std::move(name)) {}
  ~Timer() override;
  const char* ClassName() const override { return "TTimer"; }
  const std::string& Name() const { return name_; }
  int Interval() const { return interval_; }
  void SetInterval(int value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);  // enabling a running timer does not restart its period
  TNotifyEvent OnTimer;
  // What a backend calls at the end of each period. Skipped while the previous tick runs.
  void Tick();
  void AttachPeer(std::unique_ptr<TimerPeer> peer);

 private:
  void Update();
  std::string name_;
  int interval_ = 1000;
  bool enabled_ = false;
  bool ticking_ = false;
  std::unique_ptr<TimerPeer> peer_;
};

enum TCloseAction : std::uint8_t { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

class Form : public TObject {
 public:
  explicit Form(std::string name) : name_(std::move(name)) {}
  ~Form() override;
  const char* ClassName() const override { return "TForm"; }
  const std::string& Name() const { return name_; }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  // Outer position of the window on the screen.
  int Left() const { return left_; }
  void SetLeft(int value);
  int Top() const { return top_; }
  void SetTop(int value);
  // Both at once, so that the window is placed once: one coordinate after the other would
  // move it through the corner made of the new one and the old other.
  void SetPosition(int left, int top);
  int ClientWidth() const { return clientWidth_; }
  int ClientHeight() const { return clientHeight_; }
  void SetClientSize(int width, int height);
  Color Colour() const { return colour_; }
  void SetColour(Color value) { colour_ = value; }
  const gui::Font& Font() const { return font_; }
  void SetFont(const gui::Font& value) { font_ = value; }
  bool FixedSize() const { return fixedSize_; }
  void SetFixedSize(bool value) { fixedSize_ = value; }
  const std::string& Icon() const { return icon_; }
  void SetIcon(const std::string& value) { icon_ = value; }

  TNotifyEvent OnCreate;
  TCloseEvent OnClose;

  // Controls in layout order; the form owns them.
  template <typename C>
  C& Add(std::string name) {
    auto c = std::make_unique<C>(*this, std::move(name));
    C& ref = *c;
    controls_.push_back(std::move(c));
    return ref;
  }
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  Control* Find(const std::string& name) const;
  // Timers the form owns, in declaration order.
  Timer& AddTimer(std::string name);
  const std::vector<std::unique_ptr<Timer>>& Timers() const { return timers_; }

  // Runs OnClose through the dispatch; the window closes unless the handler raised or set
  // caNone. Returns whether it closed.
  bool RequestClose();
  bool Closed() const { return closed_; }
  // Asks the backend to close the window as if the user had (runs RequestClose from its loop).
  void Close();

  void AttachPeer(std::unique_ptr<Peer> peer);
  Peer* GetPeer() const { return peer_.get(); }

 private:
  void Changed();
  std::string name_;
  std::string caption_;
  int left_ = 0, top_ = 0;
  int clientWidth_ = 0, clientHeight_ = 0;
  Color colour_ = clBtnFace;
  gui::Font font_;
  bool fixedSize_ = true;
  std::string icon_;
  bool closed_ = false;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::unique_ptr<Timer>> timers_;
  std::unique_ptr<Peer> peer_;
};

// What each backend provides.
class Backend {
 public:
  virtual ~Backend() = default;
  // Builds the native window and widgets for a form whose layout is loaded (attaches peers to
  // the form, its controls and its timers).
  virtual void CreatePeers(Form& form) = 0;
  virtual void Show(Form& form) = 0;
  // Runs the loop until the form has closed.
  virtual void Run(Form& form) = 0;
  // Handles every pending message, timer tick, handed-over call and queued close, then returns.
  virtual void ProcessMessages() = 0;
  // Modal error box: error icon, one OK button, caption. Returns when dismissed.
  virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;
  // Opens an address with the system's default handler; failures are ignored.
  virtual void OpenDocument(const std::string& address) = 0;
  // Work areas of the screens, primary first.
  virtual std::vector<Rect> Screens() = 0;
  // The form's window with its frame (caption, borders): what has to fit on a screen.
  virtual Size OuterSize(const Form& form) = 0;
  // Closes a form from the loop, as a click on its close box would.
  virtual void PostClose(Form& form) = 0;
};

class Application {
 public:
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  void SetBackend(Backend* backend);
  Backend* GetBackend() const { return backend_; }
  void ProcessMessages();
  // The default exception handler: shows the message in the error box.
  void ShowException(const std::exception& e);
  void HandleException();  // inside a catch block
  void Run(Form& mainForm);

 private:
  std::string title_ = "Zanowipe";
  Backend* backend_ = nullptr;
};

Application& App();

// Runs a handler; an exception that escapes it goes to the application's error box. Returns
// whether the handler completed without raising.
bool Dispatch(const std::function<void()>& handler);

// The text the error box shows for a message: a full stop is appended when the last character
// sorts after '.'.
std::string ErrorBoxText(const std::string& message);

}  // namespace gui
