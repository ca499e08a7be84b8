// One QApplication for the whole test program, on the offscreen platform, and helpers that
// run its loop with generous real-time limits.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <functional>

namespace qttest {

inline QApplication& Application() {
  static int argc = 1;
  static char name[] = "zanowipe-gui-tests";
  static char* argv[] = {name, nullptr};
  // Tests never need a display; a set variable (for example xcb under Xvfb) is respected.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs the Qt loop until pred() holds or timeoutMs passed; returns pred().
inline bool LoopUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!pred() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return pred();
}

// Runs the Qt loop for ms milliseconds.
inline void LoopFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                    static_cast<int>(ms - clock.elapsed()));
  }
}

}  // namespace qttest
