// SetCommMask and WaitCommEvent with the Windows semantics, the receive rules of the DCB, and
// the engine's idle cost.
#include <atomic>

#include "tests/pty/EngineFixture.h"
#include "tests/pty/TtyCallsOverride.h"

namespace {

using namespace ptytest;
using Events = EngineTest;

std::string ReadAll(drv::Handle h) {
  EXPECT_TRUE(D().SetCommTimeouts(h, Timeouts(drv::kMaxDword, 0, 0)));
  std::uint8_t buf[256];
  std::uint32_t done = 0;
  Transfer t;
  EXPECT_TRUE(D().ReadFile(h, buf, sizeof buf, &done, &t.ov));
  return std::string(buf, buf + done);
}

TEST_P(Events, ArrivalCompletesAPendingWait) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar | drv::kEvTxEmpty));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  EXPECT_FALSE(w.t.WaitDone(Ms(100)));
  pty_.Send("a");
  ASSERT_TRUE(w.t.WaitDone(Ms(3000)));
  std::uint32_t count = 0;
  EXPECT_TRUE(D().GetOverlappedResult(h_, &w.t.ov, &count, false));
  EXPECT_EQ(w.events, drv::kEvRxChar);
}

TEST_P(Events, EventsBetweenWaitsAreKeptForTheNextWait) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  pty_.Send("while nobody waits");
  AwaitInQueue(5);
  Wait w;
  ASSERT_TRUE(StartWait(h_, w)) << "the kept event completes the wait at once";
  EXPECT_EQ(w.events, drv::kEvRxChar);
  EXPECT_TRUE(w.t.WaitDone(Ms(0)));
  Wait next;
  EXPECT_FALSE(StartWait(h_, next)) << "reported once, not again";
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
}

TEST_P(Events, ANewMaskCompletesTheOutstandingWaitWithNoEvents) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar | drv::kEvErr));
  ASSERT_TRUE(w.t.WaitDone(Ms(1000)));
  std::uint32_t count = 0;
  EXPECT_TRUE(D().GetOverlappedResult(h_, &w.t.ov, &count, false));
  EXPECT_EQ(w.events, 0u);
}

TEST_P(Events, WaitingWithoutAMaskOrTwiceIsInvalid) {
  Wait w;
  EXPECT_FALSE(D().WaitCommEvent(h_, &w.events, &w.t.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorInvalidParameter) << "mask 0";
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  ASSERT_FALSE(StartWait(h_, w));
  Wait second;
  EXPECT_FALSE(D().WaitCommEvent(h_, &second.events, &second.t.ov));
  EXPECT_EQ(D().GetLastError(), drv::kErrorInvalidParameter) << "second outstanding wait";
  ASSERT_TRUE(D().SetCommMask(h_, 0));  // ends the wait while its block still exists
  EXPECT_TRUE(w.t.WaitDone(Ms(1000)));
}

TEST_P(Events, TheEventCharacterRaisesRxFlag) {
  drv::Dcb dcb = ToolDcb();
  dcb.EvtChar = '>';
  ASSERT_TRUE(D().SetCommState(h_, dcb));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar | drv::kEvRxFlag));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  pty_.Send("box>");
  ASSERT_TRUE(w.t.WaitDone(Ms(3000)));
  AwaitInQueue(4);
  Wait rest;
  if (StartWait(h_, rest)) w.events |= rest.events;  // the bytes may come in two chunks
  EXPECT_EQ(w.events, drv::kEvRxChar | drv::kEvRxFlag);
  ReadAll(h_);
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar | drv::kEvRxFlag));
  Wait plain;
  ASSERT_FALSE(StartWait(h_, plain));
  pty_.Send("abc");
  ASSERT_TRUE(plain.t.WaitDone(Ms(3000)));
  EXPECT_EQ(plain.events, drv::kEvRxChar) << "no event character in \"abc\"";
}

TEST_P(Events, TransmitEmptyFollowsAWrite) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvTxEmpty));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  EXPECT_FALSE(w.t.WaitDone(Ms(100))) << "nothing written yet";
  Transfer t;
  std::uint32_t done = 0;
  ASSERT_TRUE(D().WriteFile(h_, "\n", 1, &done, &t.ov));
  ASSERT_TRUE(w.t.WaitDone(Ms(3000)));
  EXPECT_EQ(w.events, drv::kEvTxEmpty);
}

// A pty's output queue is always empty; these make the kernel report bytes held, as it does
// for a line held by CTS, by XOFF, or by a stalled adapter.
std::atomic<int> heldBytes{0};
std::atomic<long> outputQueueQueries{0};

int HeldOutputQueue(int /*fd*/, int* queued) {
  ++outputQueueQueries;
  *queued = heldBytes.load();
  return 0;
}

class HeldTransmitter : public TtyEngineTest {
 protected:
  void TearDown() override {
    TtyEngineTest::TearDown();  // no engine left to ask the queue
    heldBytes = 0;
  }
  TtyCallsOverride restore_;
};

TEST_F(HeldTransmitter, ChecksGrowApartWhileNothingLeavesAndTheEmptyQueueIsStillReported) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvTxEmpty));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  heldBytes = 1;
  drv::posix::Tty().outputQueued = &HeldOutputQueue;
  Transfer t;
  std::uint32_t done = 0;
  ASSERT_TRUE(D().WriteFile(h_, "\n", 1, &done, &t.ov));
  std::this_thread::sleep_for(Ms(300));  // past the first, short checks
  const std::string name = EngineThread();
  const long switchesBefore = ContextSwitchesOfThread(name);
  ASSERT_GE(switchesBefore, 0) << "engine thread " << name << " not found";
  const long queriesBefore = outputQueueQueries.load();
  std::this_thread::sleep_for(Ms(2000));
  const long queries = outputQueueQueries.load() - queriesBefore;
  const long switches = ContextSwitchesOfThread(name) - switchesBefore;
  // One byte takes under 0.1 ms at 115200 baud: checking at that pace is about 1000 a second.
  EXPECT_LE(queries, 60) << "TIOCOUTQ queries in 2 s with 1 byte held at 115200 baud";
  EXPECT_LE(switches, 80) << "engine context switches in 2 s with 1 byte held";
  EXPECT_FALSE(w.t.WaitDone(Ms(0))) << "EV_TXEMPTY while a byte is still held";

  heldBytes = 0;
  const auto released = SteadyClock::now();
  ASSERT_TRUE(w.t.WaitDone(Ms(5000))) << "no EV_TXEMPTY after the line was released";
  EXPECT_LT(ElapsedMs(released), 1000) << "the checks grew apart without limit";
  EXPECT_EQ(w.events, drv::kEvTxEmpty);
}

TEST_P(Events, EightyPercentOfTheQueueRaisesRx80Full) {
  ASSERT_TRUE(D().SetupComm(h_, 100, 100));
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRx80Full));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  pty_.Send(std::string(79, 'a'));
  AwaitInQueue(79);
  EXPECT_FALSE(w.t.WaitDone(Ms(100))) << "79 of 100";
  pty_.Send("b");
  ASSERT_TRUE(w.t.WaitDone(Ms(3000))) << "80 of 100";
  EXPECT_EQ(w.events, drv::kEvRx80Full);
}

TEST_P(Events, AQueueThatFilledBeforeTheMaskIsReportedAndDrainsTheRest) {
  ASSERT_TRUE(D().SetupComm(h_, 64, 64));
  std::string sent;
  for (int i = 0; i < 200; ++i) sent += static_cast<char>('A' + i % 26);
  pty_.Send(sent);
  AwaitInQueue(64);
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  Wait w;
  const bool reported = StartWait(h_, w);
  if (!reported) {
    ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));  // ends the wait before its block goes
  }
  ASSERT_TRUE(reported) << "a full queue gets no further arrivals to report";
  EXPECT_EQ(w.events, drv::kEvRxChar);

  // Draining on each event brings in what the tty held back, in order.
  std::string received = ReadAll(h_);
  for (int round = 0; round < 100 && received.size() < sent.size(); ++round) {
    Wait next;
    if (!StartWait(h_, next)) {
      const bool arrived = next.t.WaitDone(Ms(3000));
      if (!arrived) {
        ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));  // ends the wait before its block goes
      }
      ASSERT_TRUE(arrived) << "no EV_RXCHAR after " << received.size() << " bytes";
    }
    received += ReadAll(h_);
  }
  EXPECT_EQ(received, sent);
}

TEST_P(Events, NulBytesAreDroppedOnlyWhenTheBlockSaysSo) {
  const std::string withNuls("a\0b\0\0c", 6);
  pty_.Send(withNuls);
  AwaitInQueue(3);
  EXPECT_EQ(ReadAll(h_), "abc") << "fNull set";

  drv::Dcb dcb = ToolDcb();
  dcb.Flags &= ~drv::kFNull;
  ASSERT_TRUE(D().SetCommState(h_, dcb));
  pty_.Send(withNuls);
  AwaitInQueue(6);
  EXPECT_EQ(ReadAll(h_), withNuls) << "fNull clear";
}

TEST_P(Events, OnlyNulBytesRaiseNoRxChar) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  pty_.Send(std::string(3, '\0'));
  EXPECT_FALSE(w.t.WaitDone(Ms(300))) << "discarded bytes are not received bytes";
  pty_.Send("x");
  ASSERT_TRUE(w.t.WaitDone(Ms(3000)));
}

TEST_P(Events, EveryByteValueSurvivesTheErrorMarking) {
  drv::Dcb dcb = ToolDcb();
  dcb.Flags &= ~drv::kFNull;
  ASSERT_TRUE(D().SetCommState(h_, dcb));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  all += "\xFF\xFF\xFF\x00\xFF";
  pty_.Send(all);
  AwaitInQueue(static_cast<std::uint32_t>(all.size()));
  ASSERT_TRUE(D().SetCommTimeouts(h_, Timeouts(drv::kMaxDword, 0, 0)));
  std::uint8_t buf[512];
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(D().ReadFile(h_, buf, sizeof buf, &done, &t.ov));
  EXPECT_EQ(std::string(buf, buf + done), all);
  std::uint32_t errors = 0;
  drv::ComStat stat;
  ASSERT_TRUE(D().ClearCommError(h_, &errors, &stat));
  EXPECT_EQ(errors, 0u) << "0xFF data bytes are no line errors";
}

TEST_P(Events, AnIdlePortCostsNoWakeUps) {
  ASSERT_TRUE(D().SetCommMask(h_, drv::kEvRxChar | drv::kEvTxEmpty | drv::kEvErr));
  Wait w;
  ASSERT_FALSE(StartWait(h_, w));
  const std::string name = EngineThread();
  const long before = SettledContextSwitchesOfThread(name);
  ASSERT_GE(before, 0) << "engine thread " << name << " not found";
  std::this_thread::sleep_for(Ms(1000));
  const long after = ContextSwitchesOfThread(name);
  EXPECT_LE(after - before, 2) << "context switches of the idle engine in one second";
  ASSERT_TRUE(D().SetCommMask(h_, 0));
  EXPECT_TRUE(w.t.WaitDone(Ms(1000)));
}

INSTANTIATE_TEST_SUITE_P(Lines, Events, EveryLine(), LineName);

}  // namespace
