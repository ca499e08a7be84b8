// Pictures from the program's resources (resources/Zanowipe.rc).
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

namespace gui::win32 {

HBITMAP LoadPicture(const std::string& name);
// A 16 x 16 glyph as an image list whose bottom-left pixel's colour is transparent.
HIMAGELIST LoadGlyph(const std::string& name);
HICON LoadIconSized(const std::string& name, int size);
// The first icon group of the program: the one the system shows for the program file.
HICON ProgramIcon(int size);

}  // namespace gui::win32
