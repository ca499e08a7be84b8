// An Open whose watcher thread the system cannot start.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "runtime/Event.h"
#include "tests/fakes/posix/ThreadStartFaults.h"
#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

// Events on POSIX are numbered in creation order and never reused: the numbers between two
// probes are the events created in between, and closing one tells whether it was still open.
std::uintptr_t ProbeEventNumber() {
  const rt::EventHandle probe = rt::CreateEventA(true, false);
  rt::CloseEvent(probe);
  return reinterpret_cast<std::uintptr_t>(probe);
}

class WatcherStartFailureTest : public PortTest,
                                public ::testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(AllMethods, WatcherStartFailureTest,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) {
                           return std::string(info.param == smThreadSync   ? "smThreadSync"
                                              : info.param == smWindowSync ? "smWindowSync"
                                                                           : "smNone");
                         });

TEST_P(WatcherStartFailureTest, OpenRaisesTheFailureAndLeavesAClosedCleanPort) {
  port.SetSyncMethod(GetParam());
  std::vector<std::string> log;
  port.OnOpen = [&](TObject*) { log.push_back("OnOpen"); };
  port.OnClose = [&](TObject*) { log.push_back("OnClose"); };
  std::atomic<int> counted{0};  // under smNone the handler runs on the watcher
  port.OnRxChar = [&](TObject*, int n) { counted += n; };
  rt::DeliverSentMessages();  // this thread's own message queue exists from here on
  // A port that has watched before: what the last Open started is not taken for this one's.
  port.Open();
  port.Close();
  log.clear();
  fake.ClearCalls();

  const std::uintptr_t before = ProbeEventNumber();
  fake::FailThreadStarts(1);
  EXPECT_THROW(port.Open(), std::system_error);
  const std::uintptr_t after = ProbeEventNumber();

  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.ThreadStarted());
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(port.SyncWindow(), nullptr);
  EXPECT_EQ(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(fake.CountOf("CloseHandle"), 1);
  EXPECT_TRUE(log.empty());
  for (std::uintptr_t n = before + 1; n < after; ++n) {
    EXPECT_FALSE(rt::CloseEvent(reinterpret_cast<rt::EventHandle>(n)))
        << "event " << n << ", created by the failed Open, is still open";
  }

  // Nothing of the failed attempt stands in the way of the next one.
  port.Open();
  EXPECT_TRUE(port.Connected());
  ASSERT_TRUE(fake.WaitUntil([&] { return fake.WaitOutstanding(); }));
  fake.Receive("abc");
  EXPECT_TRUE(PumpUntil([&] { return counted == 3; }));
  port.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"OnOpen", "OnClose"}));
}

}  // namespace
}  // namespace serial_test
