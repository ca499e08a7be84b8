// Who watches the line: the thread that waits for a transfer, so that a byte wakes that thread
// and no other; the engine thread only for what nobody waits for; and a lead handed on when
// the thread that held it stops waiting.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

#include "serial/driver/posix/engine/OverlappedBlock.h"
#include "serial/driver/posix/tty/TtyCalls.h"
#include "tests/pty/EngineFixture.h"
#include "tests/pty/TtyCallsOverride.h"

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

// One byte completes the leader's read and the first follower's comm-event wait together; the
// lead the leader hands to that follower, which leaves at once, must reach the second follower,
// whose read the next bytes complete.
TEST_P(Lead, ALeadHandedToAFollowerThatLeavesPassesOn) {
  SetTimeouts(Timeouts(0, 0, 0));  // reads wait for their count, with no timer
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  std::uint8_t first = 0, rest[4] = {};
  std::uint32_t got = 0;
  Transfer leaderRead, followerRead;
  Wait followerWait;
  // Each thread starts waiting once the one before it is settled in its wait.
  ASSERT_FALSE(D().ReadFile(h_, &first, 1, &got, &leaderRead.ov));
  std::thread leader([&] { leaderRead.WaitDone(Ms(20000)); });
  std::this_thread::sleep_for(Ms(50));
  ASSERT_FALSE(StartWait(h_, followerWait));
  std::thread watcher([&] { followerWait.t.WaitDone(Ms(20000)); });
  std::this_thread::sleep_for(Ms(50));
  ASSERT_FALSE(D().ReadFile(h_, rest, sizeof rest, &got, &followerRead.ov));
  std::atomic<long> restLate{-1};
  std::atomic<SteadyClock::time_point> restSent{};
  std::thread reader([&] {
    if (followerRead.WaitDone(Ms(6000))) restLate = ElapsedMs(restSent);
  });
  std::this_thread::sleep_for(Ms(50));
  pty_.Send("1");
  leader.join();
  watcher.join();
  std::this_thread::sleep_for(Ms(50));  // the watcher's thread has left its wait
  restSent = SteadyClock::now();
  pty_.Send("2345");
  reader.join();
  EXPECT_GE(restLate.load(), 0) << "the second follower's read never completed";
  EXPECT_LT(restLate.load(), 2000) << "ms from its bytes to the second follower's read";
  EXPECT_EQ(first, '1');
  EXPECT_EQ(std::string(rest, rest + 4), "2345");
  EXPECT_EQ(followerWait.events, drv::kEvRxChar);
}

// A thread that went to sleep on an event before a transfer of the port took that event learns
// that it now waits for the port, and watches its line.
TEST_P(Lead, AThreadAlreadyAsleepOnAnEventWatchesTheWaitThatTakesItLater) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  Wait w;
  ASSERT_TRUE(rt::ResetEvent(w.t.ov.hEvent));
  std::atomic<long> late{-1};
  std::atomic<SteadyClock::time_point> sent{};
  std::thread sleeper([&] {
    const std::uint32_t result = rt::WaitForSingleObject(w.t.ov.hEvent, 6000);
    if (result == rt::kWaitObject0) late = ElapsedMs(sent);
  });
  std::this_thread::sleep_for(Ms(100));
  ASSERT_FALSE(StartWait(h_, w));
  std::this_thread::sleep_for(Ms(50));
  sent = SteadyClock::now();
  pty_.Send("x");
  sleeper.join();
  EXPECT_GE(late.load(), 0) << "the sleeping thread never saw the wait complete";
  EXPECT_LT(late.load(), 2000) << "ms from the byte to the wake-up of the thread asleep before";
  EXPECT_EQ(w.events, drv::kEvRxChar);
}

INSTANTIATE_TEST_SUITE_P(Lines, Lead, EveryLine(), LineName);

// A read of an empty pseudo-terminal first waits for the kernel's buffer worker, which the
// byte's own wake-up has often pushed off the processor before it finished: one more sleep for
// every byte. Those reads are counted.
std::atomic<int> gEmptyReads{0};
ssize_t CountingRead(int fd, void* buffer, std::size_t n) {
  const ssize_t got = ::read(fd, buffer, n);
  if (got < 0 && errno == EAGAIN) ++gEmptyReads;
  return got;
}

class CountedReads : public TtyEngineTest {
 protected:
  void SetUp() override {
    gEmptyReads = 0;
    drv::posix::Tty().read = &CountingRead;  // before the port opens: its threads read it
    TtyEngineTest::SetUp();
  }
  TtyCallsOverride restore_;  // after the port has closed
};

// Byte after byte, each awaited again the way a caller comes back for the next one: the line
// is read when a byte has arrived, never to find that it has not.
TEST_F(CountedReads, AThreadThatComesBackForTheNextByteDoesNotReadAnEmptyLine) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 5000));  // the tool's kind: waits for the first byte
  struct Way {
    const char* name;
    std::function<bool(Transfer&, std::uint32_t* events, std::uint8_t* byte)> start;
  };
  const Way ways[] = {
      {"a comm-event wait, then a read of the byte",
       [&](Transfer& t, std::uint32_t* events, std::uint8_t*) {
         return D().WaitCommEvent(h_, events, &t.ov);
       }},
      {"a read that waits for it",
       [&](Transfer& t, std::uint32_t*, std::uint8_t* byte) {
         std::uint32_t got = 0;
         return D().ReadFile(h_, byte, 1, &got, &t.ov);
       }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    for (int i = 0; i < 10; ++i) {
      Transfer t;
      std::uint32_t events = 0;
      std::uint8_t byte = 0;
      ASSERT_FALSE(way.start(t, &events, &byte)) << "byte " << i << " came before it was sent";
      std::uint32_t status = 0;
      EXPECT_TRUE(D().GetCommModemStatus(h_, &status));  // a call that looks at the line
      pty_.Send("x");
      ASSERT_TRUE(t.WaitDone(Ms(5000))) << "byte " << i;
      if (byte == 0) {
        std::uint32_t got = 0;
        Transfer read;
        ASSERT_TRUE(D().ReadFile(h_, &byte, 1, &got, &read.ov)) << "byte " << i;
      }
      EXPECT_EQ(byte, 'x') << "byte " << i;
    }
  }
  // A wake-up of the line that brings no byte (a change of its settings, a byte read through
  // the kernel's count before its own wake-up came) may cost a stray read on a loaded machine;
  // reading after every byte costs at least one each.
  EXPECT_LT(gEmptyReads.load(), 5) << "reads of the empty pty in 20 bytes";
}

// A wait for events of two ports: whichever port's line brings what completes its transfer
// wakes the thread, whatever the order of the events and whatever the transfers are.
class TwoPorts : public TtyEngineTest {
 protected:
  void SetUp() override {
    TtyEngineTest::SetUp();
    if (HasFatalFailure()) return;
    second_ = OpenPort(otherPty_.SlavePath());
    ASSERT_NE(second_, drv::kInvalidHandle) << D().GetLastError();
    ASSERT_TRUE(D().SetCommState(second_, ToolDcb()));
  }
  void TearDown() override {
    if (second_ != drv::kInvalidHandle) D().CloseHandle(second_);
    TtyEngineTest::TearDown();
  }

  PtyPair otherPty_;
  drv::Handle second_ = drv::kInvalidHandle;
};

TEST_F(TwoPorts, AWaitOnEventsOfBothSeesEitherLine) {
  enum Kind { kRead, kCommWait };
  struct Case {
    Kind first, second;  // the transfers of the first and the second port, in the wait's order
    bool byteToSecond;   // which port's line brings the byte
    const char* name;
  };
  const Case cases[] = {
      {kRead, kCommWait, true, "read of port 1, comm wait of port 2, byte to port 2"},
      {kCommWait, kCommWait, true, "comm waits of both, byte to port 2"},
      {kCommWait, kCommWait, false, "comm waits of both, byte to port 1"},
      {kCommWait, kRead, true, "comm wait of port 1, read of port 2, byte to port 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const drv::Handle ports[2] = {h_, second_};
    Transfer reads[2];
    Wait waits[2];
    std::uint8_t buf[2] = {};
    rt::EventHandle events[2];
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(D().SetCommTimeouts(ports[i], Timeouts(0, 0, 0)));
      ASSERT_TRUE(D().SetCommMask(ports[i], drv::kEvRxChar));
      std::uint32_t got = 0;
      if ((i == 0 ? c.first : c.second) == kRead) {
        ASSERT_FALSE(D().ReadFile(ports[i], &buf[i], 1, &got, &reads[i].ov));
        events[i] = reads[i].ov.hEvent;
      } else {
        ASSERT_FALSE(StartWait(ports[i], waits[i]));
        events[i] = waits[i].t.ov.hEvent;
      }
    }
    std::atomic<std::uint32_t> result{0};
    std::atomic<long> late{-1};
    std::atomic<SteadyClock::time_point> sent{};
    std::thread waiter([&] {
      result = rt::WaitForMultipleObjects(2, events, 6000);
      late = ElapsedMs(sent);
    });
    std::this_thread::sleep_for(Ms(100));
    sent = SteadyClock::now();
    (c.byteToSecond ? otherPty_ : pty_).Send("b");
    waiter.join();
    EXPECT_EQ(result.load(), rt::kWaitObject0 + (c.byteToSecond ? 1u : 0u));
    EXPECT_LT(late.load(), 2000) << "ms from the byte to the end of the wait";
    // Ends what is still pending before its blocks go.
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(D().SetCommMask(ports[i], 0));
      ASSERT_TRUE(D().PurgeComm(ports[i], drv::kPurgeRxAbort | drv::kPurgeRxClear));
    }
  }
}

}  // namespace
