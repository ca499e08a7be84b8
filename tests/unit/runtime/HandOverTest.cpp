#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LambdaThread.h"
#include "runtime/MainThread.h"
#include "runtime/Sys.h"

namespace rt {
namespace {

class HandOverTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMainThreadWakeup(nullptr);
    SetBackgroundErrorHandler(nullptr);
    CheckSynchronize();
  }
};

TEST_F(HandOverTest, TestsRunOnTheMainThread) {
  EXPECT_TRUE(IsMainThread());
  bool workerIsMain = true;
  std::thread([&] { workerIsMain = IsMainThread(); }).join();
  EXPECT_FALSE(workerIsMain);
}

TEST_F(HandOverTest, PostedCallsRunOldestFirstOnlyInCheckSynchronize) {
  std::vector<int> order;
  std::thread([&] {
    for (int i = 1; i <= 5; ++i) Post([&order, i] { order.push_back(i); });
  }).join();
  Post([&] { order.push_back(6); });  // from the main thread too: queued, not run at once
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(CheckSynchronize()) << "nothing left to run";
}

TEST_F(HandOverTest, SynchronizeOnTheMainThreadRunsAtOnceAndThrowsDirectly) {
  bool ran = false;
  Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(Synchronize([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST_F(HandOverTest, QueueingCallsTheRegisteredWakeup) {
  std::atomic<int> wakes{0};
  SetMainThreadWakeup([&] { ++wakes; });
  std::thread([] { Post([] {}); }).join();
  EXPECT_EQ(wakes.load(), 1);

  // A blocking hand-over also wakes: serve it from the wake-up's point of view.
  test::LambdaThread t([](test::LambdaThread& self) { self.Synchronize([] {}); });
  t.Resume();
  while (wakes.load() < 2) std::this_thread::yield();
  t.WaitFor();
  EXPECT_EQ(wakes.load(), 2);
}

TEST_F(HandOverTest, CheckSynchronizeOffTheMainThreadRunsNothing) {
  bool ran = false;
  Post([&] { ran = true; });
  bool result = true;
  std::thread([&] { result = CheckSynchronize(); }).join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
  CheckSynchronize();
  EXPECT_TRUE(ran);
}

TEST_F(HandOverTest, BackgroundErrorIsPostedToTheRegisteredHandler) {
  std::string seen;
  std::thread::id handledOn;
  SetBackgroundErrorHandler([&](std::exception_ptr e) {
    handledOn = std::this_thread::get_id();
    try {
      std::rethrow_exception(e);
    } catch (const Exception& ex) {
      seen = ex.Message();
    }
  });
  std::thread([] {
    ReportBackgroundError(std::make_exception_ptr(Exception("port gone")));
  }).join();
  EXPECT_TRUE(seen.empty()) << "the report must not run before the main thread serves it";
  CheckSynchronize();
  EXPECT_EQ(seen, "port gone");
  EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST_F(HandOverTest, DefaultBackgroundErrorHandlerWritesTheMessageToStandardError) {
  ReportBackgroundError(std::make_exception_ptr(std::runtime_error("watching ended")));
  testing::internal::CaptureStderr();
  CheckSynchronize();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("watching ended"), std::string::npos);
}

TEST_F(HandOverTest, AFailingPostedCallIsReportedAndLaterCallsStillRun) {
  std::vector<std::string> events;
  SetBackgroundErrorHandler([&](std::exception_ptr) { events.push_back("reported"); });
  Post([] { throw std::runtime_error("posted call failed"); });
  Post([&] { events.push_back("next call"); });
  CheckSynchronize();
  CheckSynchronize();
  EXPECT_EQ(events, (std::vector<std::string>{"next call", "reported"}));
}

}  // namespace
}  // namespace rt
