// POSIX emulation only: its owner loop learns of sent messages through the main-thread
// wake-up, where Windows delivers them inside any message retrieval.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "../LambdaThread.h"
#include "runtime/Event.h"
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"

namespace rt {
namespace {

constexpr std::uint32_t kPortEvent = 1025;

class HiddenWindowPosixTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMainThreadWakeup(nullptr);
    CheckSynchronize();
  }
};

TEST_F(HiddenWindowPosixTest, SendToAMainThreadWindowWakesTheMainLoop) {
  std::atomic<int> wakes{0};
  SetMainThreadWakeup([&] { ++wakes; });
  bool handled = false;
  HiddenWindow window([&](Message&) { handled = true; });
  std::thread sender([&] { window.SendMessageA(kPortEvent, 1, 0); });
  // A loop that only knows the wake-up and CheckSynchronize still serves the window.
  while (!handled) {
    if (wakes.load() > 0) CheckSynchronize();
    std::this_thread::yield();
  }
  sender.join();
  EXPECT_GE(wakes.load(), 1);
}

TEST_F(HiddenWindowPosixTest, DestroyingTheWindowReleasesAWaitingSender) {
  auto window = std::make_unique<HiddenWindow>([](Message& m) { m.Result = 5; });
  Event queued(true, false);
  SetMainThreadWakeup([&] { queued.Set(); });  // called once the message is in the queue
  std::atomic<bool> returned{false};
  std::intptr_t result = -1;
  std::thread sender([&] {
    result = window->SendMessageA(kPortEvent, 1, 0);
    returned = true;
  });
  ASSERT_TRUE(queued.Wait(test::kGenerousMs));
  window.reset();
  sender.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(result, 0) << "a window that went away never handled the message";
}

}  // namespace
}  // namespace rt
