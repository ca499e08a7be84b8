// Who watches the line: the thread that waits for a transfer, so that a byte wakes that thread
// and no other; the engine thread only for what nobody waits for; and a lead handed on when
// the thread that held it stops waiting.
#include <thread>

#include "serial/driver/posix/OverlappedBlock.h"
#include "tests/pty/EngineFixture.h"

namespace {

using namespace ptytest;
using Lead = EngineTest;

TEST_P(Lead, AWaitingThreadTakesEachByteItselfAndTheEngineSleeps) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 0));
  const std::string engine = EngineThread();
  const long before = SettledContextSwitchesOfThread(engine);
  ASSERT_GE(before, 0) << "engine thread " << engine << " not found";
  for (int i = 0; i < 20; ++i) {
    Wait w;
    ASSERT_FALSE(StartWait(h_, w)) << "byte " << i;
    std::thread device([this] {
      std::this_thread::sleep_for(Ms(2));
      pty_.Send("x");
    });
    const bool done = w.t.WaitDone(Ms(5000));
    device.join();
    ASSERT_TRUE(done) << "byte " << i << " never completed the wait";
    std::uint8_t b;
    std::uint32_t got = 0;
    Transfer read;
    ASSERT_TRUE(D().ReadFile(h_, &b, 1, &got, &read.ov));
    EXPECT_EQ(got, 1u) << "byte " << i;
  }
  EXPECT_LE(ContextSwitchesOfThread(engine) - before, 2)
      << "the engine thread woke for bytes that a waiting thread was watching for";
}

TEST_P(Lead, AReadNobodyWaitsForStillEndsAtItsDeadline) {
  SetTimeouts(Timeouts(0, 0, 150));
  std::uint8_t buf[8];
  std::uint32_t got = 0;
  Transfer read;
  ASSERT_FALSE(D().ReadFile(h_, buf, sizeof buf, &got, &read.ov));
  pty_.Send("ab");
  // Looked at without any call into the port: the event is set in the background.
  const auto start = SteadyClock::now();
  while (drv::posix::LoadState(&read.ov) == drv::posix::kStatusPending && ElapsedMs(start) < 5000) {
    std::this_thread::sleep_for(Ms(10));
  }
  ASSERT_NE(drv::posix::LoadState(&read.ov), drv::posix::kStatusPending)
      << "a read with a 150 ms total timeout, never waited for, still pending after 5 s";
  EXPECT_EQ(read.ov.InternalHigh, 2u);
}

TEST_P(Lead, AReaderBesideTheEventWatcherEndsOnTimeAndTakesOverWhenTheWatcherLeaves) {
  // The event char never comes: the watcher's wait stays pending, and it keeps the lead.
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxFlag));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  std::thread watcher([&] { w.t.WaitDone(Ms(20000)); });
  std::this_thread::sleep_for(Ms(50));

  SetTimeouts(Timeouts(0, 0, 200));
  std::uint8_t buf[8];
  std::uint32_t got = 0;
  Transfer first;
  auto start = SteadyClock::now();
  ASSERT_FALSE(D().ReadFile(h_, buf, sizeof buf, &got, &first.ov));
  ASSERT_TRUE(first.WaitDone(Ms(5000))) << "a 200 ms read beside a leading watcher";
  EXPECT_GE(ElapsedMs(start), 150);
  EXPECT_LT(ElapsedMs(start), 3000) << "the leader's poll did not learn the read's deadline";

  // The watcher stops waiting while a second read waits: the lead passes to the reader.
  SetTimeouts(Timeouts(0, 0, 10000));
  Transfer second;
  ASSERT_FALSE(D().ReadFile(h_, buf, 3, &got, &second.ov));
  std::thread reader([&] { second.WaitDone(Ms(20000)); });
  std::this_thread::sleep_for(Ms(50));
  ASSERT_TRUE(D().SetCommMask(h_, 0));  // ends the watcher's wait
  watcher.join();
  std::this_thread::sleep_for(Ms(50));
  start = SteadyClock::now();
  pty_.Send("xyz");
  reader.join();
  EXPECT_LT(ElapsedMs(start), 3000) << "bytes for a waiting reader after the leader left";
  const Outcome out = Finish(second);
  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.count, 3u);
}

INSTANTIATE_TEST_SUITE_P(Lines, Lead, EveryLine(), LineName);

}  // namespace
