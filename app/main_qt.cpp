// The Linux program: the main window under Qt 6 Widgets, until it closes.
#include <QApplication>

#include "app/MainWindowRun.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"

int main(int argc, char** argv) {
  rt::MarkMainThread();
  QApplication qtApp(argc, argv);
  gui::qt::QtBackend backend;
  return RunMainWindow(backend);
}
