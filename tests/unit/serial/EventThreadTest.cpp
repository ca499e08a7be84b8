// The event watcher with real threads: dispatch order, the three ways handlers reach their
// thread, stopping, and how watching ends. Bounds on real time are generous; nothing here
// depends on how fast a thread runs.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComThread.h"
#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

constexpr std::uint32_t kAllEventBits = 0x05FF;

const std::vector<std::string> kDispatchOrderNames = {
    "OnRxChar",    "OnTxEmpty", "OnBreak",      "OnRing",  "OnCTSChange",
    "OnDSRChange", "OnRxFlag",  "OnRLSDChange", "OnError", "OnRx80Full"};

const char* MethodName(TSyncMethod m) {
  switch (m) {
    case smThreadSync:
      return "smThreadSync";
    case smWindowSync:
      return "smWindowSync";
    default:
      return "smNone";
  }
}

class EventThreadTest : public PortTest {
 protected:
  struct Entry {
    std::string name;
    bool onMainThread;
    int waitsSoFar;  // WaitCommEvent calls made when the handler ran
  };

  void Record(const std::string& name) {
    const int waits = fake.CountOf("WaitCommEvent");
    std::lock_guard lock(m_);
    entries_.push_back({name, rt::IsMainThread(), waits});
  }
  std::vector<Entry> Entries() const {
    std::lock_guard lock(m_);
    return entries_;
  }
  std::size_t EntryCount() const { return Entries().size(); }

  void AssignAll() {
    port.OnRxChar = [this](TObject*, int) { Record("OnRxChar"); };
    port.OnTxEmpty = [this](TObject*) { Record("OnTxEmpty"); };
    port.OnBreak = [this](TObject*) { Record("OnBreak"); };
    port.OnRing = [this](TObject*) { Record("OnRing"); };
    port.OnCTSChange = [this](TObject*, bool) { Record("OnCTSChange"); };
    port.OnDSRChange = [this](TObject*, bool) { Record("OnDSRChange"); };
    port.OnRxFlag = [this](TObject*) { Record("OnRxFlag"); };
    port.OnRLSDChange = [this](TObject*, bool) { Record("OnRLSDChange"); };
    port.OnError = [this](TObject*, TComErrors) { Record("OnError"); };
    port.OnRx80Full = [this](TObject*) { Record("OnRx80Full"); };
  }

  // A wait is at the driver again, so the dispatch before it has returned.
  bool NextWaitStarted(int waitsBefore) {
    return PumpUntil(
        [&] { return fake.CountOf("WaitCommEvent") > waitsBefore && fake.WaitOutstanding(); });
  }

  int PurgesWith(std::uint32_t flags) const {
    int n = 0;
    for (const fake::FakeCall& c : fake.Calls()) {
      if (c.name == "PurgeComm" && c.args[0] == flags) ++n;
    }
    return n;
  }

  ReportCollector reports;

 private:
  mutable std::mutex m_;
  std::vector<Entry> entries_;
};

class EventThreadMethodTest : public EventThreadTest,
                              public ::testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(AllMethods, EventThreadMethodTest,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& info) { return std::string(MethodName(info.param)); });

TEST_P(EventThreadMethodTest, AllTenEventsOfOneWaitRunTheHandlersInDispatchOrderInOnePass) {
  port.SetSyncMethod(GetParam());
  AssignAll();
  OpenQuietly();
  fake.RaiseEvents(kAllEventBits);
  ASSERT_TRUE(PumpUntil([&] { return EntryCount() == 10; })) << EntryCount() << " handlers ran";
  const std::vector<Entry> entries = Entries();
  std::vector<std::string> names;
  for (const Entry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, kDispatchOrderNames);
  const bool expectMain = GetParam() != smNone;
  for (const Entry& e : entries) {
    EXPECT_EQ(e.onMainThread, expectMain) << e.name;
    EXPECT_EQ(e.waitsSoFar, entries.front().waitsSoFar) << e.name << " ran after a new wait";
  }
  // Each handler's status query, and only those: Count, three line states, the errors.
  EXPECT_EQ(fake.CountOf("ClearCommError"), 2);
  EXPECT_EQ(fake.CountOf("GetCommModemStatus"), 3);
  PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(EntryCount(), 10u);
}

TEST_P(EventThreadMethodTest, AHandlerThatRaisesEndsWatchingIsReportedOnceAndReopenWatches) {
  port.SetSyncMethod(GetParam());
  std::atomic<bool> raise{true};
  std::atomic<int> calls{0};
  std::atomic<bool> insideHandler{false};
  std::atomic<bool> reportedInsideHandler{false};
  std::vector<std::exception_ptr> seen;
  std::mutex seenM;
  rt::SetBackgroundErrorHandler([&](std::exception_ptr e) {
    if (insideHandler) reportedInsideHandler = true;
    std::lock_guard lock(seenM);
    seen.push_back(e);
  });
  auto seenCount = [&] {
    std::lock_guard lock(seenM);
    return seen.size();
  };
  port.OnRxChar = [&](TObject*, int) {
    insideHandler = true;
    ++calls;
    PumpFor(std::chrono::milliseconds(0));  // a handler that lets queued work run
    insideHandler = false;
    if (raise) throw Exception("handler failed");
  };
  OpenQuietly();
  fake.Receive("a");
  ASSERT_TRUE(PumpUntil([&] { return seenCount() == 1; }));
  EXPECT_EQ(MessageOf(seen[0]), "handler failed");
  EXPECT_FALSE(reportedInsideHandler);
  ASSERT_TRUE(PumpUntil([&] { return port.EventThread()->Finished(); }));
  EXPECT_NE(port.EventThread()->FatalException(), nullptr);
  EXPECT_TRUE(port.Connected());

  fake.Receive("b");
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenCount(), 1u);
  // The loop ended without its closing steps: the driver's queues keep what arrived.
  EXPECT_EQ(PurgesWith(15), 0);
  EXPECT_EQ(fake.InputQueued(), 2u);

  raise = false;
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(PurgesWith(15), 0) << "the ended loop's closing purge ran at Close";
  port.Open();
  fake.Receive("c");
  EXPECT_TRUE(PumpUntil([&] { return calls == 2; }));
  EXPECT_EQ(seenCount(), 1u);
  port.Close();
}

TEST_F(EventThreadTest, UnassignedHandlersAreSkippedWithoutTheirStatusQueries) {
  std::vector<int> counts;
  port.OnRxChar = [&](TObject*, int n) { counts.push_back(n); };
  OpenQuietly();
  fake.RaiseEvents(drv::kEvCts | drv::kEvDsr | drv::kEvRlsd | drv::kEvErr | drv::kEvTxEmpty);
  ASSERT_TRUE(NextWaitStarted(0));
  EXPECT_EQ(fake.CountOf("GetCommModemStatus"), 0);
  EXPECT_EQ(fake.CountOf("ClearCommError"), 0);
  EXPECT_TRUE(counts.empty());

  fake.Receive("xyz");
  ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1; }));
  EXPECT_EQ(counts[0], 3);
  EXPECT_EQ(fake.CountOf("ClearCommError"), 1);
}

TEST_F(EventThreadTest, OnErrorSeesOnlyErrorsAfterOnRxCharsQuery) {
  std::vector<int> counts;
  std::vector<TComErrors> errors;
  port.OnRxChar = [&](TObject*, int n) {
    counts.push_back(n);
    fake.AddErrors(drv::kCeOverrun);  // arises after the count was taken
  };
  port.OnError = [&](TObject*, TComErrors e) { errors.push_back(e); };
  OpenQuietly();
  // This completes the outstanding wait; its dispatch waits for the main thread, so no new
  // wait starts and what follows is kept for the next one.
  fake.RaiseEvents(drv::kEvTxEmpty);
  fake.AddErrors(drv::kCeFrame);
  fake.Receive("ab");
  fake.RaiseEvents(drv::kEvErr);
  ASSERT_TRUE(PumpUntil([&] { return errors.size() == 1; }));
  EXPECT_EQ(counts, std::vector<int>{2});
  EXPECT_EQ(errors[0], TComErrors{ceOverrun});
}

TEST_F(EventThreadTest, BytesReadByTheDispatchBeforeLeaveTheNextOnRxCharACountOfZero) {
  std::vector<int> counts;
  port.OnRxChar = [&](TObject* sender, int n) {
    counts.push_back(n);
    char buf[16];
    if (n > 0) static_cast<TComX*>(sender)->Read(buf, n);
  };
  OpenQuietly();
  fake.Receive("ab");  // completes the wait
  fake.Receive("cd");  // arrives before the dispatch runs: kept for the next wait
  ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts, (std::vector<int>{4, 0}));
  EXPECT_EQ(fake.InputQueued(), 0u);
}

TEST_F(EventThreadTest, SyncWindowIgnoresUnknownEventBitsAndPassesOtherMessagesOn) {
  port.SetSyncMethod(smWindowSync);
  AssignAll();
  OpenQuietly();
  rt::Message unknown{WM_PORTEVENT, 2048, 0, 0};
  port.HandleSyncMessage(unknown);
  EXPECT_EQ(unknown.Result, 0);
  rt::Message other{0x0400 /*WM_USER*/, drv::kEvRxChar, 0, 0};
  port.HandleSyncMessage(other);
  EXPECT_EQ(EntryCount(), 0u);
  EXPECT_TRUE(fake.Calls().empty());

  rt::Message rxFlag{WM_PORTEVENT, drv::kEvRxFlag, 0, 0};
  port.HandleSyncMessage(rxFlag);
  rt::Message rxChar{WM_PORTEVENT, drv::kEvRxChar, 0, 0};
  port.HandleSyncMessage(rxChar);
  ASSERT_EQ(EntryCount(), 2u);
  EXPECT_EQ(Entries()[0].name, "OnRxFlag");
  EXPECT_EQ(Entries()[1].name, "OnRxChar");
  EXPECT_EQ(rxChar.Result, 0);
}

class MainThreadMethodTest : public EventThreadTest,
                             public ::testing::WithParamInterface<TSyncMethod> {};

INSTANTIATE_TEST_SUITE_P(HandOverMethods, MainThreadMethodTest,
                         ::testing::Values(smThreadSync, smWindowSync),
                         [](const auto& info) { return std::string(MethodName(info.param)); });

TEST_P(MainThreadMethodTest, CloseDuringADispatchWaitingForTheMainThreadCompletesItThenStops) {
  port.SetSyncMethod(GetParam());
  std::atomic<int> ran{0};
  std::atomic<bool> closeBegun{false};
  port.OnRxChar = [&](TObject*, int) {
    EXPECT_TRUE(closeBegun);  // only Close's wait serves the main thread here
    ++ran;
  };
  port.OnClose = [&](TObject*) { EXPECT_EQ(ran, 1); };
  OpenQuietly();
  fake.Receive("x");
  ASSERT_TRUE(fake.WaitUntil([&] { return fake.CountOf("GetOverlappedResult") == 1; }));
  closeBegun = true;
  port.Close();  // must return: it serves the dispatch while waiting for the watcher
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(PurgesWith(15), 1);
  EXPECT_EQ(fake.CallNames().back(), "CloseHandle");
  EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(EventThreadTest, StopDuringAHandlerOnTheWatcherLetsItFinishThenLeaves) {
  port.SetSyncMethod(smNone);
  std::atomic<bool> inHandler{false};
  std::atomic<bool> release{false};
  std::atomic<int> finished{0};
  port.OnRxChar = [&](TObject*, int) {
    inHandler = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++finished;
  };
  OpenQuietly();
  fake.Receive("x");
  ASSERT_TRUE(fake.WaitUntil([&] { return inHandler.load(); }));
  std::thread releaser([&] {
    // Close has purged, so it is about to wait for the watcher.
    fake.WaitUntil([&] { return PurgesWith(3) == 1; });
    release = true;
  });
  port.Close();
  releaser.join();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(PurgesWith(15), 1);
  EXPECT_FALSE(port.Connected());
}

TEST_F(EventThreadTest, AnOutstandingWaitIsEndedBeforeTheDeviceIsClosed) {
  OpenQuietly();
  port.Close();
  const std::vector<std::string> names = fake.CallNames();
  const auto mask = std::find(names.begin(), names.end(), "SetCommMask");
  const auto close = std::find(names.begin(), names.end(), "CloseHandle");
  ASSERT_NE(mask, names.end());
  EXPECT_LT(mask, close);
}

// The errors with which a completed wait says that the device has gone: a USB adapter pulled
// out (5, 22 or 31, depending on the adapter's driver), a handle that no longer works (6) and a
// hang-up (1167).
class DeviceGoneTest : public EventThreadTest,
                       public ::testing::WithParamInterface<std::uint32_t> {};

INSTANTIATE_TEST_SUITE_P(GoneErrors, DeviceGoneTest, ::testing::Values(5u, 6u, 22u, 31u, 1167u),
                         [](const auto& info) { return "error" + std::to_string(info.param); });

TEST_P(DeviceGoneTest, EndsWatchingWithOneReportAndNoFurtherWait) {
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TObject*, int) { ++calls; };
  OpenQuietly();
  fake.HangUp(GetParam());
  ASSERT_TRUE(PumpUntil([&] { return reports.Count() == 1; }));
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(reports.Count(), 1u);
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 0);  // no wait after the failed one
  EXPECT_EQ(calls, 0);
  const std::vector<std::exception_ptr> r = reports.Reports();
  EXPECT_EQ(MessageOf(r[0]),
            "Unable to get async status (win error code: " + std::to_string(GetParam()) + ")");
  EXPECT_TRUE(port.Connected());
  port.Close();
  EXPECT_FALSE(port.Connected());
}

TEST_F(EventThreadTest, WaitRefusedAtOnceNeitherDispatchesNorSpins) {
  fake.FailAlways("WaitCommEvent", drv::kErrorInvalidHandle);
  std::atomic<int> calls{0};
  AssignAll();
  port.Open();
  ASSERT_TRUE(PumpUntil([&] { return reports.Count() == 1; }));
  PumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 1);
  EXPECT_EQ(fake.CountOf("GetOverlappedResult"), 0);
  EXPECT_EQ(EntryCount(), 0u);
  EXPECT_EQ(reports.Count(), 1u);
  port.Close();
  EXPECT_EQ(PurgesWith(15), 1);
}

TEST_F(EventThreadTest, AnAbandonedWaitDispatchesNothingButRepeatedFailuresEndWatching) {
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TObject*, int) { ++calls; };
  OpenQuietly();
  // One wait the driver abandons: nothing is dispatched, the next wait is watched as usual.
  fake.FailNext("GetOverlappedResult", drv::kErrorOperationAborted);
  fake.Receive("a");
  ASSERT_TRUE(NextWaitStarted(0));
  EXPECT_EQ(calls, 0);
  fake.Receive("b");
  ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
  EXPECT_EQ(reports.Count(), 0u);

  // A driver that fails every wait would keep the loop busy: it gives up after a few.
  fake.FailAlways("GetOverlappedResult", drv::kErrorOperationAborted);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(fake.WaitUntil([&] { return fake.WaitOutstanding(); })) << "wait " << i;
    fake.RaiseEvents(drv::kEvRxChar);
  }
  ASSERT_TRUE(PumpUntil([&] { return reports.Count() == 1; }));
  EXPECT_EQ(MessageOf(reports.Reports()[0]), "Unable to get async status (win error code: 995)");
  EXPECT_EQ(calls, 1);
  fake.StopFailing("GetOverlappedResult");
  port.Close();
}

TEST_F(EventThreadTest, EmptyEventsStartNothingAndCallNoHandler) {
  port.SetEvents({});
  AssignAll();
  port.Open();
  fake.Receive("abc");
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(EntryCount(), 0u);
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 0);
  port.Close();
}

TEST_F(EventThreadTest, TheWatcherAsksOnlyForTheChosenEvents) {
  port.SetEvents({evRxChar, evCTS});
  std::vector<bool> cts;
  port.OnCTSChange = [&](TObject*, bool on) { cts.push_back(on); };
  OpenQuietly();
  EXPECT_EQ(fake.Mask(), drv::kEvRxChar | drv::kEvCts);
  fake.SetModemStatus(drv::kMsCtsOn);
  fake.RaiseEvents(drv::kEvCts | drv::kEvDsr);
  ASSERT_TRUE(PumpUntil([&] { return cts.size() == 1; }));
  EXPECT_TRUE(cts[0]);
}

}  // namespace
}  // namespace serial_test
