// COMMTIMEOUTS on reads, case by case, in real time with generous bounds.
#include <vector>

#include "tests/pty/EngineFixture.h"

namespace {

using namespace ptytest;
using Read = EngineTest;

TEST_P(Read, ReturnAtOnceModeGivesWhatIsQueuedEvenNothing) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 0));
  std::uint8_t buf[10];
  std::uint32_t done = 99;
  Transfer t;
  ASSERT_TRUE(StartRead(buf, sizeof buf, t, &done)) << "MAXDWORD/0/0 on an empty queue";
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(t.WaitDone(Ms(0))) << "completion at once signals the event too";

  pty_.Send("abc");
  AwaitInQueue(3);
  Transfer t2;
  ASSERT_TRUE(StartRead(buf, sizeof buf, t2, &done));
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(buf, buf + 3), "abc");
}

TEST_P(Read, ToolsReadReturnsQueuedBytesAtOnce) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100));
  pty_.Send("box> ");
  AwaitInQueue(5);
  std::uint8_t buf[64];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(StartRead(buf, sizeof buf, t, &done)) << "MAXDWORD/0/100 with bytes queued";
  EXPECT_EQ(std::string(buf, buf + done), "box> ");
}

// With nothing queued at its start, the tool's kind of read is no "return on first byte":
// an arrival short of the count leaves it waiting for the rest or its total timeout.
TEST_P(Read, ToolsReadWithNothingQueuedWaitsForTheCountOrTheTotal) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 600));
  std::uint8_t buf[64];
  std::uint32_t done = 0;
  Transfer t;
  const auto start = SteadyClock::now();
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done)) << "MAXDWORD/0/600 with nothing queued";
  std::uint32_t count = 0;
  EXPECT_FALSE(D().GetOverlappedResult(h_, &t.ov, &count, false));
  EXPECT_EQ(D().GetLastError(), drv::kErrorIoIncomplete);
  pty_.Send("xy");
  EXPECT_FALSE(t.WaitDone(Ms(300))) << "MAXDWORD/0/600: 2 of 64 bytes ended the read";
  ASSERT_TRUE(t.WaitDone(Ms(5000)));
  EXPECT_GE(ElapsedMs(start), 590) << "completed before its total timeout";
  Outcome o = Finish(t);
  EXPECT_TRUE(o.ok) << "error " << o.error;
  EXPECT_EQ(std::string(buf, buf + o.count), "xy");

  // A multiplier counts in the total, and the count ends the read before it.
  SetTimeouts(Timeouts(drv::kMaxDword, 1000, 3000));
  Transfer whole;
  const auto sent = SteadyClock::now();
  ASSERT_FALSE(StartRead(buf, 4, whole, &done)) << "MAXDWORD/1000/3000 with nothing queued";
  pty_.Send("ab");
  EXPECT_FALSE(whole.WaitDone(Ms(300))) << "MAXDWORD/1000/3000: 2 of 4 bytes ended the read";
  pty_.Send("cd");
  ASSERT_TRUE(whole.WaitDone(Ms(5000)));
  EXPECT_LT(ElapsedMs(sent), 3000) << "the fourth byte did not end the read";
  o = Finish(whole);
  EXPECT_TRUE(o.ok) << "error " << o.error;
  EXPECT_EQ(std::string(buf, buf + o.count), "abcd");
}

TEST_P(Read, MaxdwordMultiplierAndAConstantReturnOnTheFirstBytes) {
  SetTimeouts(Timeouts(drv::kMaxDword, drv::kMaxDword, 3000));
  std::uint8_t buf[64];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done))
      << "MAXDWORD/MAXDWORD/3000 with nothing queued";
  EXPECT_FALSE(t.WaitDone(Ms(100)));
  const auto sent = SteadyClock::now();
  pty_.Send("xy");
  ASSERT_TRUE(t.WaitDone(Ms(5000)));
  EXPECT_LT(ElapsedMs(sent), 1500) << "returned on arrival, not at the 3000 ms timeout";
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(std::string(buf, buf + o.count), "xy");
}

TEST_P(Read, ToolsReadTimesOutEmptyAndSucceeds) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 150));
  std::uint8_t buf[64];
  std::uint32_t done = 0;
  Transfer t;
  const auto start = SteadyClock::now();
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done));
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  EXPECT_GE(ElapsedMs(start), 140);
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok) << "an expired read succeeds, error " << o.error;
  EXPECT_EQ(o.count, 0u);
}

TEST_P(Read, IntervalTimeoutStartsWithTheFirstByte) {
  SetTimeouts(Timeouts(150, 0, 0));
  std::uint8_t buf[10];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done));
  EXPECT_FALSE(t.WaitDone(Ms(400))) << "no byte yet: the interval timer must not run";
  const auto sent = SteadyClock::now();
  pty_.Send("ab");
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  EXPECT_GE(ElapsedMs(sent), 140) << "completed before the interval had passed";
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(std::string(buf, buf + o.count), "ab");
}

TEST_P(Read, TotalTimeoutIsMultiplierTimesCountPlusConstant) {
  SetTimeouts(Timeouts(0, 20, 100));  // 10 bytes: 300 ms
  std::uint8_t buf[10];
  std::uint32_t done = 0;
  Transfer t;
  const auto start = SteadyClock::now();
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done));
  pty_.Send("1234");
  EXPECT_FALSE(t.WaitDone(Ms(200))) << "4 of 10 bytes, before 300 ms";
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  EXPECT_GE(ElapsedMs(start), 290);
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok) << "4 of 10 bytes when the timeout expires is a success";
  EXPECT_EQ(std::string(buf, buf + o.count), "1234");
}

TEST_P(Read, NoTimeoutsWaitForTheWholeCount) {
  SetTimeouts(Timeouts(0, 0, 0));
  std::uint8_t buf[5];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done));
  pty_.Send("abc");
  EXPECT_FALSE(t.WaitDone(Ms(300))) << "3 of 5 bytes";
  pty_.Send("de!");
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(std::string(buf, buf + o.count), "abcde");
  AwaitInQueue(1);  // the '!' stays queued for the next read
  ASSERT_TRUE(StartRead(buf, 1, t, &done)) << "count satisfied from the queue completes at once";
  EXPECT_EQ(buf[0], '!');
}

TEST_P(Read, GetOverlappedResultCanWaitForTheEnd) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 2000));
  std::uint8_t buf[2];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_FALSE(StartRead(buf, sizeof buf, t, &done));
  std::thread sender([&] {
    std::this_thread::sleep_for(Ms(100));
    pty_.Send("ok");
  });
  std::uint32_t count = 0;
  EXPECT_TRUE(D().GetOverlappedResult(h_, &t.ov, &count, true));
  sender.join();
  EXPECT_EQ(count, 2u);
}

TEST_P(Read, ReadsQueueBehindEachOtherInOrder) {
  SetTimeouts(Timeouts(0, 0, 0));
  std::uint8_t first[2], second[2];
  std::uint32_t done = 0;
  Transfer a, b;
  ASSERT_FALSE(StartRead(first, 2, a, &done));
  ASSERT_FALSE(StartRead(second, 2, b, &done));
  pty_.Send("1234");
  ASSERT_TRUE(a.WaitDone(Ms(3000)));
  ASSERT_TRUE(b.WaitDone(Ms(3000)));
  EXPECT_EQ(std::string(first, first + Finish(a).count), "12");
  EXPECT_EQ(std::string(second, second + Finish(b).count), "34");
}

// OnRxChar's count is cbInQue, which includes what the kernel still holds; the handler reads
// exactly that many with the tool's timeouts, so the read must deliver all of them, not only
// the engine queue's share.
TEST_P(Read, ToolsReadTakesWhatTheKernelHoldsBeyondAFullQueue) {
  ASSERT_TRUE(D().SetupComm(h_, 64, 64));
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100));
  std::vector<std::uint8_t> sent(1000);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>('a' + i % 26);
  pty_.Send(sent);
  AwaitInQueue(static_cast<std::uint32_t>(sent.size()));
  const std::uint32_t waiting = InQueue();
  ASSERT_EQ(waiting, sent.size()) << "a 64-byte queue plus the kernel's 936 bytes";
  std::vector<std::uint8_t> buf(waiting);
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(StartRead(buf.data(), waiting, t, &done)) << "MAXDWORD/0/100, 1000 bytes waiting";
  EXPECT_EQ(done, waiting);
  EXPECT_EQ(buf, sent);
}

// A total timeout longer than the clock can count (multiplier times count overflows it) is no
// deadline at all: the read waits for its bytes.
TEST_P(Read, ATotalTimeoutBeyondTheClockIsNoDeadline) {
  struct Case {
    std::uint32_t interval, multiplier, constant;
  };
  for (const Case& c : {Case{0, drv::kMaxDword - 1, 0}, Case{drv::kMaxDword, drv::kMaxDword - 1, 0},
                        Case{0, drv::kMaxDword - 1, drv::kMaxDword - 1}}) {
    SCOPED_TRACE(testing::Message() << c.interval << "/" << c.multiplier << "/" << c.constant);
    SetTimeouts(Timeouts(c.interval, c.multiplier, c.constant));
    std::vector<std::uint8_t> buf(4096);
    std::uint32_t done = 0;
    Transfer t;
    ASSERT_FALSE(StartRead(buf.data(), 4096, t, &done));
    EXPECT_FALSE(t.WaitDone(Ms(300))) << "completed with " << Finish(t).count << " bytes";
    ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeRxAbort));
    ASSERT_TRUE(t.WaitDone(Ms(3000)));
    EXPECT_EQ(Finish(t).error, drv::kErrorOperationAborted);
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, Read, EveryLine(), LineName);

}  // namespace
