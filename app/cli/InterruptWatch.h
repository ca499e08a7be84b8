// Ctrl-C, SIGTERM and the terminal closing (SIGHUP; on Windows Ctrl-Break and the console
// window closed) for a program that sleeps in its loop until something happens: a signal sets a
// flag and wakes the loop, so nothing has to look for the flag now and then.
#pragma once

#include <functional>
#include <memory>

namespace cli {

class InterruptWatch {
 public:
  // wake: called once for each signal, on a thread of the watch's own, never inside the
  // signal handler. One watch at a time.
  explicit InterruptWatch(std::function<void()> wake);
  // Puts back the handlers that were there before.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Interrupted() const;

  struct State;  // per platform

 private:
  std::unique_ptr<State> state_;
};

}  // namespace cli
