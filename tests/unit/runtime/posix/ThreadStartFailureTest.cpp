// A worker whose thread the system cannot start.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "runtime/Event.h"
#include "tests/fakes/posix/ThreadStartFaults.h"
#include "tests/unit/runtime/LambdaThread.h"

namespace rt {
namespace {

using test::kGenerousMs;
using test::LambdaThread;

TEST(ThreadStartFailureTest, AFailedResumeRaisesAndLeavesNothingToWaitFor) {
  auto ran = std::make_shared<Event>(true, false);
  auto* t = new LambdaThread([ran](LambdaThread&) { ran->Set(); });
  fake::FailThreadStarts(1);
  EXPECT_THROW(t->Resume(), std::system_error);
  EXPECT_FALSE(ran->Wait(0));

  // Destroyed elsewhere, so that a destructor waiting for a body that never ran shows as a
  // failure here rather than as a hang (the object is then left behind).
  auto destroyed = std::make_shared<Event>(true, false);
  std::thread([t, destroyed] {
    delete t;
    destroyed->Set();
  }).detach();
  EXPECT_TRUE(destroyed->Wait(kGenerousMs)) << "destroying a thread whose start failed";
}

TEST(ThreadStartFailureTest, AResumeThatFailedCanBeRepeated) {
  auto ran = std::make_shared<Event>(true, false);
  auto t = std::make_unique<LambdaThread>([ran](LambdaThread&) { ran->Set(); });
  fake::FailThreadStarts(1);
  EXPECT_THROW(t->Resume(), std::system_error);
  t->Resume();
  if (!ran->Wait(kGenerousMs)) {
    static_cast<void>(t.release());  // its destructor would wait for a body that never runs
    FAIL() << "the body did not run after the second Resume";
  }
  t->WaitFor();
  EXPECT_TRUE(t->Finished());
}

}  // namespace
}  // namespace rt
