// What the models and the backends share: handlers, colours, fonts, rectangles, and the peer
// through which a backend shows a model.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/Sys.h"

namespace gui {

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

}  // namespace gui
