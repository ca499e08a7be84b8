// The visible controls of a form. Each setter stores the value and has the peer show it; what
// a backend calls for a user's action (UserClick, UserSelect, ...) goes through the same rules
// as the program's own calls, and its handler runs through Dispatch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/Types.h"

namespace gui {

class Form;

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

}  // namespace gui
