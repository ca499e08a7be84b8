#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LambdaThread.h"
#include "runtime/Event.h"
#include "runtime/MainThread.h"
#include "runtime/Thread.h"

namespace rt {
namespace {

using std::chrono::milliseconds;
using test::LambdaThread;

class ThreadTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMainThreadWakeup(nullptr);
    CheckSynchronize();
  }
};

TEST_F(ThreadTest, BodyStartsOnlyAtResume) {
  std::atomic<bool> ran{false};
  Event started(true, false);
  LambdaThread t([&](LambdaThread&) {
    ran = true;
    started.Set();
  });
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_FALSE(ran.load());
  EXPECT_FALSE(t.Finished());
  t.Resume();
  ASSERT_TRUE(started.Wait(test::kGenerousMs));
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(t.FatalException(), nullptr);
}

TEST_F(ThreadTest, ExceptionThatEndsTheBodyIsHeldNotRethrown) {
  LambdaThread t([](LambdaThread&) { throw std::runtime_error("device gone"); });
  t.Resume();
  EXPECT_NO_THROW(t.WaitFor());
  ASSERT_NE(t.FatalException(), nullptr);
  try {
    std::rethrow_exception(t.FatalException());
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "device gone");
  }
}

TEST_F(ThreadTest, DestructorTerminatesAndWaits) {
  std::atomic<bool> bodyEnded{false};
  {
    LambdaThread t([&](LambdaThread& self) {
      while (!self.Terminated()) std::this_thread::sleep_for(milliseconds(1));
      bodyEnded = true;
    });
    t.Resume();
  }
  EXPECT_TRUE(bodyEnded.load());
}

TEST_F(ThreadTest, NeverResumedThreadIsReleasedWithoutRunningItsBody) {
  std::atomic<bool> ran{false};
  {
    LambdaThread t([&](LambdaThread&) { ran = true; });
  }
  EXPECT_FALSE(ran.load());
}

TEST_F(ThreadTest, SynchronizeRunsOnTheMainThreadAndRethrowsInTheWorker) {
  std::thread::id ranOn;
  std::string caught;
  LambdaThread t([&](LambdaThread& self) {
    self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      self.Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  t.Resume();
  t.WaitFor();  // serves both calls
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "handler failed");
  EXPECT_EQ(t.FatalException(), nullptr);
}

TEST_F(ThreadTest, ExceptionRethrownBySynchronizeEndsTheBodyAndIsHeld) {
  LambdaThread t([](LambdaThread& self) {
    self.Synchronize([] { throw std::logic_error("from the handler"); });
  });
  t.Resume();
  t.WaitFor();
  ASSERT_NE(t.FatalException(), nullptr);
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::logic_error);
}

// The worker is blocked in Synchronize while the main thread waits for it to end: the wait
// must run the call, or neither thread would ever continue.
TEST_F(ThreadTest, WaitOnMainRunsHandedOverCallsSoABlockedWorkerCanEnd) {
  int calls = 0;
  LambdaThread t([&](LambdaThread& self) {
    for (int i = 0; i < 100; ++i) self.Synchronize([&] { ++calls; });
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(calls, 100);
}

TEST_F(ThreadTest, DestructorOnMainServesAWorkerThatSynchronizesUntilTerminated) {
  std::atomic<int> calls{0};
  {
    LambdaThread t([&](LambdaThread& self) {
      while (!self.Terminated()) self.Synchronize([&] { ++calls; });
    });
    t.Resume();
    while (calls.load() < 3) CheckSynchronize();
  }
  EXPECT_GE(calls.load(), 3);
}

TEST_F(ThreadTest, WaitOnMainLeavesPostedCallsToTheLoop) {
  std::vector<std::string> ran;
  LambdaThread t([&](LambdaThread& self) {
    Post([&] { ran.push_back("posted"); });
    self.Synchronize([&] { ran.push_back("synchronized"); });
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(ran, std::vector<std::string>{"synchronized"});
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, (std::vector<std::string>{"synchronized", "posted"}));
}

TEST_F(ThreadTest, WaitFromAnotherThreadDoesNotServeTheMainQueue) {
  std::atomic<bool> queuedRan{false};
  Event release(true, false);
  LambdaThread worker([&](LambdaThread&) { release.Wait(test::kGenerousMs); });
  worker.Resume();
  std::thread waiter([&] {
    Post([&] { queuedRan = true; });
    release.Set();
    worker.WaitFor();
  });
  waiter.join();
  EXPECT_FALSE(queuedRan.load()) << "only the main thread runs handed-over calls";
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_TRUE(queuedRan.load());
}

}  // namespace
}  // namespace rt
