// Writes with and without timeouts, purging, synchronous calls and a full receive queue.
#include <unistd.h>

#include <atomic>
#include <numeric>
#include <vector>

#include "tests/pty/EngineFixture.h"
#include "tests/pty/TtyCallsOverride.h"

namespace {

using namespace ptytest;
using Transfers = EngineTest;
// A network line's socket buffers, and its server's, hold megabytes: a write handed to it is not
// left pending for long, so what needs a pending write is shown on the tty.
using TtyTransfers = TtyEngineTest;

TEST_P(Transfers, AWriteTheKernelTakesCompletesAtOnce) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100, 100, 10));
  const std::string line = "protect off\n";
  Transfer t;
  std::uint32_t done = 0;
  ASSERT_TRUE(D().WriteFile(h_, line.data(), static_cast<std::uint32_t>(line.size()), &done, &t.ov))
      << D().GetLastError();
  EXPECT_EQ(done, line.size());
  EXPECT_TRUE(t.WaitDone(Ms(0)));
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, line.size());
  EXPECT_EQ(pty_.Receive(line.size(), Ms(2000)), Bytes(line));

  Transfer empty;
  ASSERT_TRUE(D().WriteFile(h_, "", 0, &done, &empty.ov)) << "a zero-length write";
  EXPECT_EQ(done, 0u);
}

TEST_F(TtyTransfers, AWriteThatCannotFinishInTimeSucceedsWithWhatWentOut) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100, 0, 300));
  // Nobody reads the master, so the kernel soon takes no more.
  std::vector<std::uint8_t> big(1 << 20);
  std::iota(big.begin(), big.end(), 0);
  Transfer t;
  std::uint32_t done = 0;
  const auto start = SteadyClock::now();
  ASSERT_FALSE(D().WriteFile(h_, big.data(), static_cast<std::uint32_t>(big.size()), &done, &t.ov));
  ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
  ASSERT_TRUE(t.WaitDone(Ms(5000)));
  EXPECT_GE(ElapsedMs(start), 290);
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok) << "a write timeout completes with success and fewer bytes, error " << o.error;
  EXPECT_LT(o.count, big.size());
  // Exactly the reported bytes went out, nothing of the rest afterwards.
  const auto received = pty_.Receive(big.size(), Ms(1500));
  ASSERT_EQ(received.size(), o.count);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), big.begin()));
}

TEST_F(TtyTransfers, AWriteTimeoutBeyondTheClockIsNoDeadline) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 100, drv::kMaxDword - 1, 0));
  // More than the pty takes at once; its product with the multiplier, in the clock's
  // nanoseconds, would wrap into the past.
  std::vector<std::uint8_t> big(200467, 'w');
  Transfer t;
  std::uint32_t done = 0;
  ASSERT_FALSE(D().WriteFile(h_, big.data(), static_cast<std::uint32_t>(big.size()), &done, &t.ov));
  EXPECT_FALSE(t.WaitDone(Ms(300))) << "completed with " << Finish(t).count << " bytes";
  ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeTxAbort | drv::kPurgeTxClear));
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  EXPECT_EQ(Finish(t).error, drv::kErrorOperationAborted);
}

TEST_F(TtyTransfers, APendingWriteFinishesWhenTheOtherSideReads) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 0, 0, 0));
  std::vector<std::uint8_t> big(256 * 1024, 'w');
  Transfer t;
  std::uint32_t done = 0;
  ASSERT_FALSE(D().WriteFile(h_, big.data(), static_cast<std::uint32_t>(big.size()), &done, &t.ov));
  EXPECT_EQ(done, 0u) << "a pending write reports 0 at the start";
  EXPECT_FALSE(t.WaitDone(Ms(200)));
  const auto received = pty_.Receive(big.size(), Ms(10000));
  EXPECT_EQ(received.size(), big.size());
  ASSERT_TRUE(t.WaitDone(Ms(3000)));
  const Outcome o = Finish(t);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, big.size());
}

TEST_F(TtyTransfers, PurgeAbortEndsPendingReadsAndWritesWithOperationAborted) {
  SetTimeouts(Timeouts(0, 0, 0, 0, 0));
  std::uint8_t buf[8];
  std::uint32_t done = 0;
  Transfer read;
  ASSERT_FALSE(StartRead(buf, sizeof buf, read, &done));
  std::vector<std::uint8_t> big(1 << 20, 'p');
  Transfer write;
  ASSERT_FALSE(
      D().WriteFile(h_, big.data(), static_cast<std::uint32_t>(big.size()), &done, &write.ov));

  ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeTxAbort | drv::kPurgeRxAbort));
  ASSERT_TRUE(read.WaitDone(Ms(2000)));
  ASSERT_TRUE(write.WaitDone(Ms(2000)));
  const Outcome r = Finish(read);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, drv::kErrorOperationAborted) << "read";
  const Outcome w = Finish(write);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, drv::kErrorOperationAborted) << "write";

  EXPECT_FALSE(D().PurgeComm(h_, 0x10));
  EXPECT_EQ(D().GetLastError(), drv::kErrorInvalidParameter);
}

TEST_P(Transfers, PurgeClearEmptiesTheReceiveQueueButAbortLeavesIt) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 0));
  pty_.Send("stale");
  AwaitInQueue(5);
  ASSERT_TRUE(D().PurgeComm(h_, drv::kPurgeRxAbort | drv::kPurgeTxAbort));
  EXPECT_EQ(InQueue(), 5u) << "the abort flags do not clear the queue";
  ASSERT_TRUE(D().PurgeComm(h_, 15));
  EXPECT_EQ(InQueue(), 0u);
}

TEST_P(Transfers, CloseAbortsWhatIsPending) {
  SetTimeouts(Timeouts(0, 0, 0));
  std::uint8_t buf[8];
  std::uint32_t done = 0;
  Transfer read;
  ASSERT_FALSE(StartRead(buf, sizeof buf, read, &done));
  ASSERT_TRUE(D().CloseHandle(h_));
  ASSERT_TRUE(read.WaitDone(Ms(0))) << "completed by the close itself";
  std::uint32_t count = 0;
  EXPECT_FALSE(D().GetOverlappedResult(h_, &read.ov, &count, false));
  EXPECT_EQ(D().GetLastError(), drv::kErrorOperationAborted);
  h_ = drv::kInvalidHandle;
}

// A real port's close can take long (the kernel waits up to its closing_wait for output a line
// holds); the threads that waited on the port are not kept behind it.
int SlowClose(int fd) {
  std::this_thread::sleep_for(Ms(1000));
  return ::close(fd);
}
class SlowlyClosingTty : public TtyEngineTest {
 protected:
  TtyCallsOverride restore_;  // after the port has closed
};

TEST_F(SlowlyClosingTty, WaitersGetTheirAbortWithoutWaitingForTheClose) {
  SetTimeouts(Timeouts(0, 0, 0));
  std::uint8_t buf[4];
  std::uint32_t got = 0;
  Transfer read;
  ASSERT_FALSE(D().ReadFile(h_, buf, sizeof buf, &got, &read.ov));
  std::atomic<SteadyClock::time_point> closing{};
  std::atomic<long> late{-1};
  std::thread waiter([&] {
    if (read.WaitDone(Ms(10000))) late = ElapsedMs(closing);
  });
  std::this_thread::sleep_for(Ms(50));
  drv::posix::Tty().close = &SlowClose;
  closing = SteadyClock::now();
  ASSERT_TRUE(D().CloseHandle(h_));
  const long closeMs = ElapsedMs(closing);
  h_ = drv::kInvalidHandle;
  waiter.join();
  EXPECT_GE(closeMs, 900) << "the close took its time";
  EXPECT_GE(late.load(), 0) << "the waiter never returned";
  EXPECT_LT(late.load(), 500) << "ms the waiter spent behind the close";
  EXPECT_EQ(Finish(read).error, drv::kErrorOperationAborted);
}

TEST_P(Transfers, CallsWithoutAnOverlappedBlockBlockUntilDone) {
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 2000, 0, 0));
  std::uint32_t done = 0;
  ASSERT_TRUE(D().WriteFile(h_, "sync", 4, &done, nullptr));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(pty_.Receive(4, Ms(2000)), Bytes("sync"));
  std::thread sender([&] {
    std::this_thread::sleep_for(Ms(100));
    pty_.Send("back");
  });
  std::uint8_t buf[4];
  ASSERT_TRUE(D().ReadFile(h_, buf, sizeof buf, &done, nullptr));
  sender.join();
  EXPECT_EQ(std::string(buf, buf + done), "back");
}

TEST_P(Transfers, AFullQueueLeavesBytesInTheKernelAndLosesNone) {
  ASSERT_TRUE(D().SetupComm(h_, 64, 64));
  SetTimeouts(Timeouts(drv::kMaxDword, 0, 0));
  std::vector<std::uint8_t> sent(3000);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(1 + i % 250);
  pty_.Send(sent);
  AwaitInQueue(static_cast<std::uint32_t>(sent.size()));
  EXPECT_EQ(InQueue(), sent.size()) << "queue plus kernel";
  std::vector<std::uint8_t> got;
  std::uint8_t buf[100];
  const auto start = SteadyClock::now();
  while (got.size() < sent.size() && ElapsedMs(start) < 5000) {
    Transfer t;
    std::uint32_t done = 0;
    ASSERT_TRUE(StartRead(buf, sizeof buf, t, &done));
    got.insert(got.end(), buf, buf + done);
  }
  EXPECT_EQ(got, sent);
  std::uint32_t errors = 0;
  drv::ComStat stat;
  ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(errors, 0u) << "nothing overflowed";
}

// cbInQue is what reads can have: data only, never the line's encoding of it (a marked tty
// doubles 0xFF, Telnet escapes it as IAC IAC), even when most of it lies beyond a full queue;
// a read of exactly that many bytes that waits for its count completes.
void ExpectTheCountBeyondAFullQueueIsData(drv::Handle h, PtyPair& pty) {
  ASSERT_TRUE(D().SetupComm(h, 64, 64));
  const std::vector<std::uint8_t> sent(200, 0xFF);
  pty.Send(sent);
  drv::ComStat stat;
  std::uint32_t errors = 0;
  const auto start = SteadyClock::now();
  do {
    ASSERT_TRUE(D().ClearCommError(h, &errors, &stat));
  } while (stat.cbInQue < sent.size() && ElapsedMs(start) < 3000);
  EXPECT_EQ(stat.cbInQue, sent.size()) << "200 bytes of 0xFF behind a 64-byte queue";
  ASSERT_TRUE(D().SetCommTimeouts(h, Timeouts(0, 0, 0)));
  std::vector<std::uint8_t> buf(stat.cbInQue);
  std::uint32_t done = 0;
  Transfer t;
  if (!D().ReadFile(h, buf.data(), stat.cbInQue, &done, &t.ov)) {
    ASSERT_EQ(D().GetLastError(), drv::kErrorIoPending);
  }
  const bool completed = t.WaitDone(Ms(3000));
  if (!completed) {
    ASSERT_TRUE(D().PurgeComm(h, drv::kPurgeRxAbort));  // before buf goes
  }
  ASSERT_TRUE(completed) << "a read of cbInQue bytes waiting for its count";
  EXPECT_EQ(buf, std::vector<std::uint8_t>(buf.size(), 0xFF));
}

TEST_P(Transfers, TheCountBeyondAFullQueueIsDataOnly) {
  ExpectTheCountBeyondAFullQueueIsData(h_, pty_);
}

INSTANTIATE_TEST_SUITE_P(Lines, Transfers, EveryLine(), LineName);

// A pty set up as a tty whose line errors are marked in-band, as a real serial port is.
bool NotAPseudoTerminal(int) {
  return false;
}
class MarkedTty : public TtyEngineTest {
 protected:
  MarkedTty() { drv::posix::Tty().isPseudoTerminal = &NotAPseudoTerminal; }
  TtyCallsOverride restore_;  // after the port has closed
};

TEST_F(MarkedTty, TheCountBeyondAFullQueueIsDataOnly) {
  ExpectTheCountBeyondAFullQueueIsData(h_, pty_);
}

}  // namespace
