// Keeps a restored window where the user can reach it: a saved position on a screen that is
// no longer attached would otherwise open the window where nobody can see or move it.
#pragma once

#include <vector>

#include "gui/Forms.h"

namespace app {

struct Position {
  int Left = 0, Top = 0;
  friend bool operator==(Position, Position) = default;
};

// The stored position when the window's caption strip overlaps one of the screens enough to be
// grabbed; otherwise the position moved into the primary screen (the first), as near to the
// stored one as fits. width and height: the window's outer size, frame included. No screens
// known: the stored position.
Position ReachablePosition(Position stored, int width, int height,
                           const std::vector<gui::Rect>& screens);

// Where a form whose stored position is stored is shown: ReachablePosition on the backend's
// screens with the window as large as its frame makes it. No backend: the stored position.
Position RestoredPosition(Position stored, const gui::Form& form, gui::Backend* backend);

}  // namespace app
