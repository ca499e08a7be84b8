#include "app/MainWindowRun.h"

#include "app/Unit1.h"

int RunMainWindow(gui::Backend& backend) {
  gui::App().SetTitle("Zanowipe");
  gui::App().SetBackend(&backend);
  {
    TForm1 form;
    backend.CreatePeers(form);
    gui::App().Run(form);
  }
  gui::App().SetBackend(nullptr);
  return 0;
}
