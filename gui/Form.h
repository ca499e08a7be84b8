// The form model: a window that owns its controls and timers, and decides whether a close goes
// through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/Controls.h"
#include "gui/Timer.h"

namespace gui {

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

}  // namespace gui
