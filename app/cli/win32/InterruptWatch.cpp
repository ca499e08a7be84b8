// Windows runs a console's control handler on a thread it makes for the purpose, so the handler
// itself may set the flag and wake the loop. Ctrl-C and Ctrl-Break interrupt; so does the console
// window being closed (and the user logging off, the system shutting down), after which the
// system ends the process as soon as the handler returns: the handler then waits, for a little
// less than the system's own limit, until the run has closed its port and kept its record.
// SIGTERM comes only from raise() here.
#include "app/cli/InterruptWatch.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>

#include "app/cli/win32/ConsoleEvents.h"

namespace cli {

struct InterruptWatch::State {
  std::function<void()> wake;
  std::atomic<bool> interrupted{false};
  void (*previousTerm)(int) = SIG_DFL;
};

namespace {

// The system gives a closing console's handlers 5 s before it ends the process.
constexpr DWORD kCloseWaitMs = 4500;

std::mutex currentMutex;
InterruptWatch::State* current = nullptr;
// Set when no watch is running any more; made once and kept for the process's life, since a
// handler may still wait on it while the watch goes away.
HANDLE finished = nullptr;

void Interrupt() {
  std::lock_guard lock(currentMutex);
  if (current == nullptr) return;
  current->interrupted = true;
  if (current->wake) current->wake();
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  return TakeConsoleEvent(type) ? TRUE : FALSE;
}

extern "C" void OnTerm(int signo) {
  // The runtime puts the default action back before it calls a handler.
  std::signal(signo, OnTerm);
  Interrupt();
}

}  // namespace

bool TakeConsoleEvent(unsigned long type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      Interrupt();
      return true;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Interrupt();
      if (finished != nullptr) WaitForSingleObject(finished, kCloseWaitMs);
      return true;
    default:
      return false;
  }
}

InterruptWatch::InterruptWatch(std::function<void()> wake) : state_(std::make_unique<State>()) {
  state_->wake = std::move(wake);
  {
    std::lock_guard lock(currentMutex);
    if (finished == nullptr) finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(finished);
    current = state_.get();
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  state_->previousTerm = std::signal(SIGTERM, OnTerm);
}

InterruptWatch::~InterruptWatch() {
  std::signal(SIGTERM, state_->previousTerm);
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  {
    std::lock_guard lock(currentMutex);
    current = nullptr;
  }
  SetEvent(finished);
}

bool InterruptWatch::Interrupted() const {
  return state_->interrupted;
}

}  // namespace cli
