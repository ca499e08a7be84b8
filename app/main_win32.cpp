// The Windows program, Zanowipe.exe: the main window on the native controls, until it closes.
#include <windows.h>

#include "app/MainWindowRun.h"
#include "gui/win32/Win32Backend.h"
#include "runtime/MainThread.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  rt::MarkMainThread();
  gui::win32::Win32Backend backend;
  return RunMainWindow(backend);
}
