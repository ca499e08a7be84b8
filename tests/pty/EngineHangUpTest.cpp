// The other end going away: pending operations fail once, later ones at once, nothing spins,
// and the port can still be purged and closed.
#include "tests/pty/EngineFixture.h"

namespace {

using namespace ptytest;
using HangUp = EngineTest;

TEST_P(HangUp, PendingOperationsFailOnceAndLaterOnesAtOnce) {
  SetTimeouts(Timeouts(0, 0, 0, 0, 0));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  std::uint8_t buf[8];
  std::uint32_t done = 0;
  Transfer read;
  ASSERT_FALSE(StartRead(buf, sizeof buf, read, &done));
  std::uint32_t events = 0;
  Transfer wait;
  ASSERT_FALSE(D().WaitCommEvent(h_, &events, &wait.ov));

  pty_.CloseMaster();
  ASSERT_TRUE(read.WaitDone(Ms(3000)));
  ASSERT_TRUE(wait.WaitDone(Ms(3000)));
  Outcome r = Finish(read);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, drv::kErrorDeviceNotConnected) << "pending read";
  Outcome w = Finish(wait);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, drv::kErrorDeviceNotConnected) << "pending wait";

  // Later requests fail at once, not as pending, and leave their event unsignalled.
  Transfer again;
  EXPECT_FALSE(D().ReadFile(h_, buf, sizeof buf, &done, &again.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected) << "later read";
  EXPECT_FALSE(again.WaitDone(Ms(0)));
  Transfer write;
  EXPECT_FALSE(D().WriteFile(h_, "x", 1, &done, &write.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected) << "later write";
  Transfer wait2;
  EXPECT_FALSE(D().WaitCommEvent(h_, &events, &wait2.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected) << "later wait";
  EXPECT_FALSE(wait2.WaitDone(Ms(0))) << "a refused wait must not look completed";

  std::uint32_t status = 0;
  EXPECT_FALSE(D().GetCommModemStatus(h_, &status));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected) << "modem status";

  // A port whose device is gone can still be queried, purged and closed.
  EXPECT_EQ(InQueue(), 0u);
  EXPECT_TRUE(D().PurgeComm(h_, 15));
  EXPECT_TRUE(D().CloseHandle(h_));
  h_ = drv::kInvalidHandle;
}

TEST_P(HangUp, WhatArrivedBeforeTheHangUpCanStillBeRead) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100));
  pty_.Send("bye");
  AwaitInQueue(3);
  pty_.CloseMaster();
  std::this_thread::sleep_for(Ms(100));
  std::uint8_t buf[8];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(D().ReadFile(h_, buf, sizeof buf, &done, &t.ov)) << D().GetLastError();
  EXPECT_EQ(std::string(buf, buf + done), "bye");
  Transfer next;
  EXPECT_FALSE(D().ReadFile(h_, buf, sizeof buf, &done, &next.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorDeviceNotConnected);
}

TEST_P(HangUp, TheEngineStopsWatchingADeadDevice) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  pty_.CloseMaster();
  std::this_thread::sleep_for(Ms(200));  // let the engine notice
  const std::string name = EngineThread();
  const long switchesBefore = SettledContextSwitchesOfThread(name);
  const long cpuBefore = CpuMillisecondsOfThread(name);
  ASSERT_GE(switchesBefore, 0) << "engine thread " << name << " not found";
  std::this_thread::sleep_for(Ms(500));
  EXPECT_LE(ContextSwitchesOfThread(name) - switchesBefore, 2)
      << "a hung-up pty reports POLLHUP for ever; the engine must not poll it";
  EXPECT_LE(CpuMillisecondsOfThread(name) - cpuBefore, 20);
}

INSTANTIATE_TEST_SUITE_P(Lines, HangUp, EveryLine(), LineName);

// A full queue takes nothing more from the line, so the line is not watched for input then; the
// device going away meanwhile is still seen.
using TtyHangUp = TtyEngineTest;
TEST_F(TtyHangUp, ADeviceThatGoesWhileTheQueueIsFullFailsAPendingWait) {
  ASSERT_TRUE(D().SetupComm(h_, 64, 64));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvBreak));  // nothing a pty brings
  pty_.Send(std::string(200, 'x'));
  AwaitInQueue(200);
  std::uint32_t events = 0;
  Transfer wait;
  ASSERT_FALSE(D().WaitCommEvent(h_, &events, &wait.ov));
  pty_.CloseMaster();
  ASSERT_TRUE(wait.WaitDone(Ms(3000))) << "the hang-up went unseen behind the full queue";
  EXPECT_EQ(Finish(wait).error, drv::kErrorDeviceNotConnected);
}

}  // namespace
