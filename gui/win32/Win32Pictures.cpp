#include "gui/win32/Win32Pictures.h"

#include <cstdio>

namespace gui::win32 {
namespace {

HINSTANCE Module() {
  return GetModuleHandleA(nullptr);
}

BOOL CALLBACK TakeFirstName(HMODULE, LPCSTR, LPSTR name, LONG_PTR out) {
  auto* result = reinterpret_cast<std::string*>(out);
  // An id instead of a name is kept as "#id", which the loaders understand. Formatted, not
  // concatenated: g++ 12 at -O3 takes the string concatenation for an overlapping copy
  // (-Wrestrict, a false alarm that breaks the Release build).
  if (IS_INTRESOURCE(name)) {
    char id[16];
    std::snprintf(id, sizeof id, "#%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
    result->assign(id);
  } else {
    result->assign(name);
  }
  return FALSE;
}

}  // namespace

HBITMAP LoadPicture(const std::string& name) {
  if (name.empty()) return nullptr;
  return static_cast<HBITMAP>(LoadImageA(Module(), name.c_str(), IMAGE_BITMAP, 0, 0, 0));
}

HIMAGELIST LoadGlyph(const std::string& name) {
  HBITMAP bitmap = LoadPicture(name);
  if (!bitmap) return nullptr;
  BITMAP info{};
  GetObjectA(bitmap, sizeof info, &info);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const COLORREF key = GetPixel(dc, 0, info.bmHeight - 1);
  SelectObject(dc, old);
  DeleteDC(dc);
  HIMAGELIST list = ImageList_Create(info.bmWidth, info.bmHeight, ILC_COLOR24 | ILC_MASK, 1, 0);
  if (list) ImageList_AddMasked(list, bitmap, key);
  DeleteObject(bitmap);
  return list;
}

HICON LoadIconSized(const std::string& name, int size) {
  if (name.empty()) return nullptr;
  return static_cast<HICON>(LoadImageA(Module(), name.c_str(), IMAGE_ICON, size, size, 0));
}

HICON ProgramIcon(int size) {
  std::string first;
  EnumResourceNamesA(Module(), RT_GROUP_ICON, &TakeFirstName, reinterpret_cast<LONG_PTR>(&first));
  return LoadIconSized(first, size);
}

}  // namespace gui::win32
