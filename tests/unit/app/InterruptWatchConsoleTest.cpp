// Windows: the console's Ctrl-Break interrupts a run as Ctrl-C does, and the console window
// being closed interrupts it and holds the process until the run has ended (closed its port,
// kept its record), since the system ends the process as soon as the handler returns.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/cli/InterruptWatch.h"
#include "app/cli/win32/ConsoleEvents.h"

namespace {

bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(InterruptWatchConsole, CtrlBreakInterrupts) {
  std::atomic<int> woken{0};
  cli::InterruptWatch watch([&] { ++woken; });
  EXPECT_TRUE(cli::TakeConsoleEvent(CTRL_BREAK_EVENT));
  EXPECT_TRUE(watch.Interrupted());
  EXPECT_EQ(woken, 1);
}

TEST(InterruptWatchConsole, AClosedConsoleWaitsForTheRunToEnd) {
  auto watch = std::make_unique<cli::InterruptWatch>([] {});
  std::atomic<bool> returned{false};
  std::thread console([&] {
    EXPECT_TRUE(cli::TakeConsoleEvent(CTRL_CLOSE_EVENT));
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return watch->Interrupted(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned) << "the process would be ended before the run closed its port";
  watch.reset();
  console.join();
  EXPECT_TRUE(returned);
}

}  // namespace
