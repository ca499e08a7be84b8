// The Windows program, Zanowipe.exe: the main window on the native controls, until it closes.
#include <windows.h>

#include "app/Unit1.h"
#include "gui/win32/Win32Backend.h"
#include "runtime/MainThread.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  rt::MarkMainThread();
  gui::App().SetTitle("Zanowipe");
  gui::win32::Win32Backend backend;
  gui::App().SetBackend(&backend);
  {
    TForm1 form;
    backend.CreatePeers(form);
    gui::App().Run(form);
  }
  gui::App().SetBackend(nullptr);
  return 0;
}
