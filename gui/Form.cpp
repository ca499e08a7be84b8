// The form model: owns its controls and timers, and decides whether a close goes through.
#include "gui/Form.h"

#include "gui/Application.h"

namespace gui {

Form::~Form() {
  // Peers may refer to the native window, which the form's peer owns: release them first.
  timers_.clear();
  controls_.clear();
  peer_.reset();
}

void Form::SetCaption(const std::string& value) {
  if (caption_ == value) return;
  caption_ = value;
  Changed();
}

void Form::SetLeft(int value) {
  if (left_ == value) return;
  left_ = value;
  Changed();
}

void Form::SetTop(int value) {
  if (top_ == value) return;
  top_ = value;
  Changed();
}

void Form::SetPosition(int left, int top) {
  if (left_ == left && top_ == top) return;
  left_ = left;
  top_ = top;
  Changed();
}

void Form::SetClientSize(int width, int height) {
  clientWidth_ = width;
  clientHeight_ = height;
  Changed();
}

Control* Form::Find(const std::string& name) const {
  for (const auto& c : controls_) {
    if (c->Name() == name) return c.get();
  }
  return nullptr;
}

Timer& Form::AddTimer(std::string name) {
  timers_.push_back(std::make_unique<Timer>(std::move(name)));
  return *timers_.back();
}

bool Form::RequestClose() {
  if (closed_) return true;
  TCloseAction action = caHide;
  const bool completed = Dispatch([&] {
    if (OnClose) OnClose(this, action);
  });
  if (!completed || action == caNone || action == caMinimize) return false;
  closed_ = true;
  Changed();
  return true;
}

void Form::Close() {
  if (Backend* b = App().GetBackend()) {
    b->PostClose(*this);
  } else {
    RequestClose();
  }
}

void Form::AttachPeer(std::unique_ptr<Peer> peer) {
  peer_ = std::move(peer);
  Changed();
}

void Form::Changed() {
  if (peer_) peer_->Sync();
}

}  // namespace gui
