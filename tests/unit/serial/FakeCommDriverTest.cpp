// The fake driver's Windows semantics that the component's tests and the application's
// scenario tests lean on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/Event.h"
#include "tests/fakes/FakeCommDriver.h"

namespace {

class FakeCommDriverTest : public ::testing::Test {
 protected:
  FakeCommDriverTest() {
    fake.AddDevice("COM1");
    h = fake.CreateFileA("COM1", drv::kGenericRead | drv::kGenericWrite, 0, drv::kOpenExisting,
                         drv::kFileFlagOverlapped);
    ov.hEvent = rt::CreateEventA(true, true);
  }
  ~FakeCommDriverTest() override { rt::CloseEvent(ov.hEvent); }
  bool Signalled() { return rt::WaitForSingleObject(ov.hEvent, 0) == rt::kWaitObject0; }

  fake::FakeCommDriver fake;
  drv::Handle h = drv::kInvalidHandle;
  drv::Overlapped ov;
};

TEST_F(FakeCommDriverTest, OpeningIsExclusiveAndUnknownNamesAreNotFound) {
  ASSERT_NE(h, drv::kInvalidHandle);
  EXPECT_EQ(fake.CreateFileA("COM1", 0, 0, 0, 0), drv::kInvalidHandle);
  EXPECT_EQ(fake.GetLastError(), drv::kErrorAccessDenied);
  EXPECT_EQ(fake.CreateFileA("COM9", 0, 0, 0, 0), drv::kInvalidHandle);
  EXPECT_EQ(fake.GetLastError(), drv::kErrorFileNotFound);
}

TEST_F(FakeCommDriverTest, EventsWithoutAWaitAreKeptForTheNextOne) {
  fake.SetCommMask(h, drv::kEvRxChar | drv::kEvErr);
  fake.RaiseEvents(drv::kEvErr | drv::kEvCts);  // CTS is not in the mask
  fake.Receive("x");
  std::uint32_t events = 0;
  EXPECT_TRUE(fake.WaitCommEvent(h, &events, &ov));
  EXPECT_EQ(events, drv::kEvRxChar | drv::kEvErr);
  EXPECT_TRUE(Signalled());

  EXPECT_FALSE(fake.WaitCommEvent(h, &events, &ov));
  EXPECT_EQ(fake.GetLastError(), drv::kErrorIoPending);
  EXPECT_FALSE(Signalled());
  fake.RaiseEvents(drv::kEvCts);
  EXPECT_FALSE(Signalled());
  fake.SetCommMask(h, drv::kEvRxChar);  // ends the outstanding wait with no events
  EXPECT_TRUE(Signalled());
  EXPECT_EQ(events, 0u);
  std::uint32_t count = 0;
  EXPECT_TRUE(fake.GetOverlappedResult(h, &ov, &count, false));
}

TEST_F(FakeCommDriverTest, ReceiveFollowsTheLineSettings) {
  drv::Dcb dcb{};
  dcb.Flags = drv::kFBinary | drv::kFNull;
  dcb.EvtChar = '\n';
  fake.SetCommState(h, dcb);
  fake.SetupComm(h, 10, 10);
  fake.SetCommMask(h, drv::kEvRxChar | drv::kEvRxFlag | drv::kEvRx80Full);
  fake.Receive(std::string("a\0b\n", 4));
  EXPECT_EQ(fake.InputQueued(), 3u);
  fake.Receive("cdefg");  // 8 of 10: 80 %
  std::uint32_t events = 0;
  EXPECT_TRUE(fake.WaitCommEvent(h, &events, &ov));
  EXPECT_EQ(events, drv::kEvRxChar | drv::kEvRxFlag | drv::kEvRx80Full);
}

TEST_F(FakeCommDriverTest, PurgeAbortsPendingTransfersAndClearFlagsEmptyTheQueue) {
  fake.SetReadCompletion(fake::Completion::Pending);
  fake.Receive("ab");
  char buf[8];
  std::uint32_t done = 99;
  EXPECT_FALSE(fake.ReadFile(h, buf, 8, &done, &ov));
  EXPECT_EQ(fake.GetLastError(), drv::kErrorIoPending);
  EXPECT_EQ(done, 0u);
  fake.Receive("cd");
  EXPECT_TRUE(fake.PurgeComm(h, drv::kPurgeRxAbort));
  EXPECT_FALSE(fake.GetOverlappedResult(h, &ov, &done, false));
  EXPECT_EQ(fake.GetLastError(), drv::kErrorOperationAborted);
  EXPECT_EQ(done, 4u);
  EXPECT_FALSE(fake.LastCall("GetOverlappedResult").ok);
  fake.Receive("ef");
  fake.PurgeComm(h, drv::kPurgeRxClear);
  EXPECT_EQ(fake.InputQueued(), 0u);
}

TEST_F(FakeCommDriverTest, OnWriteHookSeesCompletedWritesAndMayAnswer) {
  std::vector<std::string> seen;
  fake.SetCommMask(h, drv::kEvRxChar);
  fake.OnWrite([&](const std::string& bytes) {
    seen.push_back(bytes);
    fake.Receive("echo:" + bytes);
  });
  std::uint32_t done = 0;
  EXPECT_TRUE(fake.WriteFile(h, "hi", 2, &done, &ov));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(seen, std::vector<std::string>{"hi"});
  EXPECT_EQ(fake.InputQueued(), 7u);

  fake.SetWriteCompletion(fake::Completion::Pending);
  EXPECT_FALSE(fake.WriteFile(h, "yo", 2, &done, &ov));
  EXPECT_EQ(seen.size(), 1u);
  fake.CompletePendingWrites();
  EXPECT_EQ(seen.back(), "yo");
  EXPECT_EQ(fake.Written(), "hiyo");
}

TEST_F(FakeCommDriverTest, HangUpFailsPendingOnceThenLaterCallsAtOnceButStillCloses) {
  fake.SetCommMask(h, drv::kEvRxChar);
  std::uint32_t events = 0;
  EXPECT_FALSE(fake.WaitCommEvent(h, &events, &ov));
  fake.HangUp();
  EXPECT_TRUE(Signalled());
  std::uint32_t count = 0;
  EXPECT_FALSE(fake.GetOverlappedResult(h, &ov, &count, false));
  EXPECT_EQ(fake.GetLastError(), drv::kErrorDeviceNotConnected);
  EXPECT_FALSE(fake.WaitCommEvent(h, &events, &ov));
  EXPECT_EQ(fake.GetLastError(), drv::kErrorDeviceNotConnected);
  EXPECT_FALSE(fake.WriteFile(h, "x", 1, &count, &ov));
  EXPECT_TRUE(fake.PurgeComm(h, 3));
  EXPECT_TRUE(fake.CloseHandle(h));
  EXPECT_EQ(fake.CreateFileA("COM1", 0, 0, 0, 0), drv::kInvalidHandle);
  EXPECT_EQ(fake.GetLastError(), drv::kErrorFileNotFound);
}

TEST_F(FakeCommDriverTest, InjectedFailuresHappenOnceOrUntilStopped) {
  fake.FailNext("SetupComm", 87);
  EXPECT_FALSE(fake.SetupComm(h, 1, 1));
  EXPECT_EQ(fake.GetLastError(), 87u);
  EXPECT_TRUE(fake.SetupComm(h, 1, 1));
  fake.FailAlways("PurgeComm", 5);
  EXPECT_FALSE(fake.PurgeComm(h, 3));
  EXPECT_FALSE(fake.PurgeComm(h, 3));
  fake.StopFailing("PurgeComm");
  EXPECT_TRUE(fake.PurgeComm(h, 3));
  const fake::FakeCall failed = fake.Calls()[1];  // after CreateFileA
  EXPECT_EQ(failed.name, "SetupComm");
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.error, 87u);
}

}  // namespace
