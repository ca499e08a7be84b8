// The Linux program: the main window under Qt 6 Widgets, until it closes.
#include <QApplication>

#include "app/Unit1.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"

int main(int argc, char** argv) {
  rt::MarkMainThread();
  QApplication qtApp(argc, argv);
  gui::App().SetTitle("Zanowipe");
  gui::qt::QtBackend backend;
  gui::App().SetBackend(&backend);
  {
    TForm1 form;
    backend.CreatePeers(form);
    gui::App().Run(form);
  }
  gui::App().SetBackend(nullptr);
  return 0;
}
