#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "LambdaThread.h"
#include "runtime/Event.h"
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"

namespace rt {
namespace {

using std::chrono::milliseconds;
using test::LambdaThread;

constexpr std::uint32_t kPortEvent = 1025;

class HiddenWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMainThreadWakeup(nullptr);
    CheckSynchronize();
  }
};

TEST_F(HiddenWindowTest, SendOnTheOwnerThreadCallsTheProcedureDirectly) {
  std::vector<std::uintptr_t> seen;
  HiddenWindow window([&](Message& m) {
    if (m.Msg == kPortEvent) {
      seen.push_back(m.WParam);
      m.Result = 7;
    }
  });
  EXPECT_EQ(window.SendMessageA(kPortEvent, 4, 0), 7);
  EXPECT_EQ(seen, std::vector<std::uintptr_t>{4});
  EXPECT_EQ(window.SendMessageA(1, 0, 0), 0) << "a message the procedure ignores yields 0";
}

TEST_F(HiddenWindowTest, SendFromAnotherThreadBlocksUntilTheOwnerHasHandledIt) {
  std::thread::id handledOn;
  HiddenWindow window([&](Message& m) {
    handledOn = std::this_thread::get_id();
    m.Result = static_cast<std::intptr_t>(m.WParam) * 2;
  });
  std::atomic<bool> returned{false};
  std::intptr_t result = 0;
  std::thread sender([&] {
    result = window.SendMessageA(kPortEvent, 21, 0);
    returned = true;
  });
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(returned.load()) << "returned before the owner delivered the message";
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(test::kGenerousMs);
  while (!DeliverSentMessages() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST_F(HiddenWindowTest, WaitForOnTheOwnerThreadDeliversSentMessagesInOrder) {
  std::vector<std::uintptr_t> seen;
  HiddenWindow window([&](Message& m) { seen.push_back(m.WParam); });
  LambdaThread t([&](LambdaThread&) {
    for (std::uintptr_t bit : {1u, 4u, 64u, 8u}) window.SendMessageA(kPortEvent, bit, 0);
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(seen, (std::vector<std::uintptr_t>{1, 4, 64, 8}));
}

TEST_F(HiddenWindowTest, WindowOwnedByAWorkerIsServedByThatWorkersWait) {
  std::thread::id handledOn, ownerId;
  std::thread owner([&] {
    ownerId = std::this_thread::get_id();
    HiddenWindow window([&](Message&) { handledOn = std::this_thread::get_id(); });
    LambdaThread sender([&](LambdaThread&) { window.SendMessageA(kPortEvent, 1, 0); });
    sender.Resume();
    sender.WaitFor();
  });
  owner.join();
  EXPECT_EQ(handledOn, ownerId);
}

TEST_F(HiddenWindowTest, ExceptionFromTheProcedureReachesTheSender) {
  HiddenWindow window([](Message&) { throw std::runtime_error("handler raised"); });
  std::string caught;
  LambdaThread t([&](LambdaThread&) {
    try {
      window.SendMessageA(kPortEvent, 1, 0);
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(caught, "handler raised");
}

// The loop every backend runs when woken: a call that a sent message's procedure queues runs
// in the same round, not at some later wake-up that may never come.
TEST_F(HiddenWindowTest, ServeHandOverRunsWhatASentMessageQueuedBeforeReturning) {
  bool handled = false;
  bool queuedCallRan = false;
  HiddenWindow window([&](Message&) {
    handled = true;
    Post([&] { queuedCallRan = true; });
  });
  std::thread sender([&] { window.SendMessageA(kPortEvent, 1, 0); });
  bool ranAny = false;
  const auto deadline = std::chrono::steady_clock::now() + milliseconds(test::kGenerousMs);
  while (!handled && std::chrono::steady_clock::now() < deadline) {
    ranAny |= ServeHandOver();
    if (!handled) std::this_thread::yield();
  }
  EXPECT_TRUE(handled) << "the sent message was never delivered";
  EXPECT_TRUE(queuedCallRan) << "the call queued by the window's procedure was left waiting";
  EXPECT_TRUE(ranAny);
  sender.join();
  ServeHandOver();  // whatever the sender queued to wake the loop
  EXPECT_FALSE(ServeHandOver()) << "nothing was left to run";
}

}  // namespace
}  // namespace rt
