#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "LambdaThread.h"
#include "runtime/Event.h"

namespace rt {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Handles {
  explicit Handles(std::initializer_list<bool> manual) {
    for (bool m : manual) h[n++] = CreateEventA(m, false);
  }
  ~Handles() {
    for (int i = 0; i < n; ++i) CloseEvent(h[i]);
  }
  EventHandle h[8] = {};
  int n = 0;
};

TEST(Event, LowestSignalledIndexWinsAndManualEventsStaySignalled) {
  Handles e({true, true, true});
  SetEvent(e.h[2]);
  SetEvent(e.h[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, e.h, 0), kWaitObject0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, e.h, 0), kWaitObject0 + 1) << "manual reset is kept";
  ResetEvent(e.h[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, e.h, 0), kWaitObject0 + 2);
  SetEvent(e.h[0]);
  EXPECT_EQ(WaitForMultipleObjects(3, e.h, 0), kWaitObject0 + 0);
}

TEST(Event, AutoResetIsConsumedOnlyByTheWaitThatReportsIt) {
  Handles e({false, false});
  SetEvent(e.h[0]);
  SetEvent(e.h[1]);
  EXPECT_EQ(WaitForMultipleObjects(2, e.h, 0), kWaitObject0 + 0);
  // Index 1 was not reported, so it must still be signalled.
  EXPECT_EQ(WaitForMultipleObjects(2, e.h, 0), kWaitObject0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, e.h, 0), kWaitTimeout);
}

TEST(Event, InitialStateAndSingleWait) {
  EventHandle signalled = CreateEventA(true, true);
  EventHandle auto1 = CreateEventA(false, true);
  EXPECT_EQ(WaitForSingleObject(signalled, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(auto1, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(auto1, 0), kWaitTimeout);
  CloseEvent(signalled);
  CloseEvent(auto1);
}

TEST(Event, TimeoutWaitsAtLeastTheGivenTime) {
  Handles e({true, false});
  const auto start = Clock::now();
  EXPECT_EQ(WaitForMultipleObjects(2, e.h, 150), kWaitTimeout);
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(150));
  EXPECT_LT(elapsed, milliseconds(test::kGenerousMs));
}

TEST(Event, SetFromAnotherThreadWakesAMultiWait) {
  Handles e({true, false, true});
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(50));
    SetEvent(e.h[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, e.h, test::kGenerousMs), kWaitObject0 + 1);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(e.h[1], 0), kWaitTimeout) << "auto reset consumed by the wait";
}

TEST(Event, OneAutoResetSetReleasesExactlyOneOfTwoWaiters) {
  EventHandle event = CreateEventA(false, false);
  std::atomic<int> released{0};
  auto wait = [&] {
    if (WaitForSingleObject(event, 1500) == kWaitObject0) ++released;
  };
  std::thread a(wait), b(wait);
  std::this_thread::sleep_for(milliseconds(100));
  SetEvent(event);
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 1);
  CloseEvent(event);
}

TEST(Event, ManualSetReleasesEveryWaiter) {
  EventHandle event = CreateEventA(true, false);
  std::atomic<int> released{0};
  auto wait = [&] {
    if (WaitForSingleObject(event, test::kGenerousMs) == kWaitObject0) ++released;
  };
  std::thread a(wait), b(wait), c(wait);
  std::this_thread::sleep_for(milliseconds(50));
  SetEvent(event);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(released.load(), 3);
  CloseEvent(event);
}

TEST(Event, NullOrClosedHandleFails) {
  // Nothing is created after the close, so no new event can take the closed handle's value.
  EventHandle live = CreateEventA(true, true);
  EventHandle closed = CreateEventA(true, true);
  ASSERT_TRUE(CloseEvent(closed));
  EventHandle withNull[] = {live, nullptr};
  EventHandle withClosed[] = {live, closed};
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), kWaitFailed);
  EXPECT_EQ(WaitForSingleObject(closed, 0), kWaitFailed);
  EXPECT_EQ(WaitForMultipleObjects(2, withNull, 0), kWaitFailed);
  EXPECT_EQ(WaitForMultipleObjects(2, withClosed, 0), kWaitFailed);
  EXPECT_EQ(WaitForMultipleObjects(0, withNull, 0), kWaitFailed);
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_FALSE(ResetEvent(closed));
  EXPECT_FALSE(CloseEvent(closed)) << "a handle closes once";
  CloseEvent(live);
}

TEST(Event, RaiiEventWaitsAndSets) {
  Event e(false, false);
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_FALSE(e.Wait(0));
}

}  // namespace
}  // namespace rt
