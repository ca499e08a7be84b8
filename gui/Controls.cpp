// The visible controls: each setter stores the value and lets the peer show it.
#include "gui/Controls.h"

#include "gui/Application.h"

namespace gui {

Control::Control(Form& owner, std::string name) : owner_(owner), name_(std::move(name)) {}

void Control::SetBounds(int left, int top, int width, int height) {
  bounds_ = Rect{left, top, width, height};
  Changed();
}

void Control::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  Changed();
}

void Control::SetVisible(bool value) {
  if (visible_ == value) return;
  visible_ = value;
  Changed();
}

void Control::SetFont(const gui::Font& value) {
  font_ = value;
  Changed();
}

void Control::AttachPeer(std::unique_ptr<Peer> peer) {
  peer_ = std::move(peer);
  Changed();
}

void Control::Changed() {
  if (peer_) peer_->Sync();
}

void Button::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed();
}

void Button::Click() {
  Dispatch([this] {
    if (OnClick) OnClick(this);
  });
}

void Button::UserClick() {
  if (!Enabled() || !Visible()) return;
  Click();
}

void ComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (itemIndex_ >= static_cast<int>(items_.size())) itemIndex_ = -1;
  Changed();
}

void ComboBox::SetItemIndex(int value) {
  const bool inRange = value >= 0 && value < static_cast<int>(items_.size());
  if (!inRange) {
    // Selecting nothing when nothing is selected leaves the field's text alone, so a fresh
    // list can show a text without having an entry chosen.
    if (itemIndex_ == -1) return;
    itemIndex_ = -1;
    text_.clear();
  } else {
    if (itemIndex_ == value && text_ == items_[value]) return;
    itemIndex_ = value;
    text_ = items_[value];
  }
  Changed();
}

void ComboBox::SetText(const std::string& value) {
  if (text_ == value) return;
  text_ = value;
  Changed();
}

void ComboBox::UserSelect(int index) {
  if (!Enabled()) return;
  SetItemIndex(index);
}

void ComboBox::UserEdit(const std::string& text) {
  if (!Enabled()) return;
  // Typing over the field drops the selection unless the text still names the chosen entry.
  if (itemIndex_ >= 0 && items_[itemIndex_] != text) itemIndex_ = -1;
  text_ = text;
  Changed();
}

void CheckBox::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed();
}

void CheckBox::SetChecked(bool value) {
  if (checked_ == value) return;
  checked_ = value;
  Changed();
}

void CheckBox::UserToggle() {
  if (!Enabled() || !Visible()) return;
  SetChecked(!checked_);
}

void Label::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed();
}

void Label::SetAutoSize(bool value) {
  if (autoSize_ == value) return;
  autoSize_ = value;
  Changed();
}

void Label::UserClick() {
  if (!Enabled() || !Visible()) return;
  Dispatch([this] {
    if (OnClick) OnClick(this);
  });
}

void StatusBar::SetPanelText(const std::string& value) {
  if (text_ == value) return;
  text_ = value;
  Changed();
}

}  // namespace gui
