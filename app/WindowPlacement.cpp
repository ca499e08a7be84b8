#include "app/WindowPlacement.h"

#include <algorithm>

namespace app {

namespace {

// The caption strip must show this much of itself on a screen to be dragged back.
constexpr int kCaptionHeight = 20;
constexpr int kMinGrabWidth = 24;
constexpr int kMinGrabHeight = 8;

int Overlap(int aFrom, int aLength, int bFrom, int bLength) {
  const long long from = std::max<long long>(aFrom, bFrom);
  const long long to = std::min<long long>(static_cast<long long>(aFrom) + aLength,
                                           static_cast<long long>(bFrom) + bLength);
  return to > from ? static_cast<int>(to - from) : 0;
}

int ClampInto(int value, int from, int length, int size) {
  const int last = from + std::max(0, length - size);
  return std::clamp(value, from, last);
}

}  // namespace

Position ReachablePosition(Position stored, int width, int height,
                           const std::vector<gui::Rect>& screens) {
  if (screens.empty()) return stored;
  for (const gui::Rect& s : screens) {
    if (Overlap(stored.Left, width, s.Left, s.Width) >= kMinGrabWidth &&
        Overlap(stored.Top, kCaptionHeight, s.Top, s.Height) >= kMinGrabHeight) {
      return stored;
    }
  }
  const gui::Rect& primary = screens.front();
  return {ClampInto(stored.Left, primary.Left, primary.Width, width),
          ClampInto(stored.Top, primary.Top, primary.Height, height)};
}

Position RestoredPosition(Position stored, const gui::Form& form, gui::Backend* backend) {
  if (backend == nullptr) return stored;
  // The frame counts: a window fitted by its client area alone would overhang the screen by
  // its borders and caption.
  const gui::Size outer = backend->OuterSize(form);
  return ReachablePosition(stored, outer.Width, outer.Height, backend->Screens());
}

}  // namespace app
