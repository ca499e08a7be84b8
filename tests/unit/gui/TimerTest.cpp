#include <string>
#include <vector>

#include "tests/unit/gui/HeadlessFixture.h"

namespace {

using TimerTest = HeadlessTest;

// Adds a timer that records the virtual time of each of its ticks.
gui::Timer& TimerRecording(gui::Form& form, const char* name, int intervalMs,
                           gui::headless::HeadlessBackend& backend,
                           std::vector<std::int64_t>& ticks) {
  auto& t = form.AddTimer(name);
  t.SetInterval(intervalMs);
  t.OnTimer = [&ticks, &backend](TObject*) { ticks.push_back(backend.NowMs()); };
  return t;
}

TEST_F(TimerTest, EnablingARunningTimerKeepsItsPeriod) {
  std::vector<std::int64_t> ticks;
  auto& t = TimerRecording(form, "Timer1", 700, backend, ticks);
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(500);
  t.SetEnabled(true);
  backend.AdvanceBy(1000);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{700, 1400}));
}

TEST_F(TimerTest, EnablingAStoppedTimerStartsAFullPeriod) {
  std::vector<std::int64_t> ticks;
  auto& t = TimerRecording(form, "Timer1", 700, backend, ticks);
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(500);
  t.SetEnabled(false);
  backend.AdvanceBy(600);  // t = 1100: a stopped timer does not tick
  EXPECT_TRUE(ticks.empty());
  t.SetEnabled(true);
  backend.AdvanceBy(699);
  EXPECT_TRUE(ticks.empty());
  backend.AdvanceBy(1);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{1800}));
}

TEST_F(TimerTest, TimerEnabledBeforeItsPeerExistsStartsWhenThePeerArrives) {
  std::vector<std::int64_t> ticks;
  auto& t = TimerRecording(form, "Timer1", 700, backend, ticks);
  t.SetEnabled(true);
  backend.AdvanceBy(100);
  backend.CreatePeers(form);
  backend.AdvanceBy(700);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{800}));
}

TEST_F(TimerTest, TwoTimersTickInTimeOrderAndTiesGoToTheEarlierStarted) {
  std::vector<std::string> log;
  auto& t1 = form.AddTimer("Timer1");
  auto& t2 = form.AddTimer("Timer2");
  t1.SetInterval(700);
  t2.SetInterval(1400);
  t1.OnTimer = [&](TObject*) { log.push_back("T1@" + std::to_string(backend.NowMs())); };
  t2.OnTimer = [&](TObject*) { log.push_back("T2@" + std::to_string(backend.NowMs())); };
  backend.CreatePeers(form);
  t2.SetEnabled(true);
  t1.SetEnabled(true);
  backend.AdvanceBy(3000);
  EXPECT_EQ(log, (std::vector<std::string>{"T1@700", "T2@1400", "T1@1400", "T1@2100", "T2@2800",
                                           "T1@2800"}));
}

TEST_F(TimerTest, TickRaisingShowsTheBoxAndTheTimerGoesOnTicking) {
  int ticks = 0;
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(700);
  t.OnTimer = [&](TObject*) {
    ++ticks;
    throw Exception("Write failed (win error code: 6)");
  };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(2100);
  EXPECT_EQ(ticks, 3);
  ASSERT_EQ(backend.ErrorBoxes().size(), 3u);
  EXPECT_EQ(backend.ErrorBoxes()[0].text, "Write failed (win error code: 6)");
}

TEST_F(TimerTest, NoTickInsideATickWhoseErrorBoxIsStillOpen) {
  std::vector<std::int64_t> slowTicks;
  std::vector<std::int64_t> otherTicks;
  auto& slow = form.AddTimer("Timer1");
  auto& other = form.AddTimer("Timer2");
  slow.SetInterval(700);
  other.SetInterval(500);
  slow.OnTimer = [&](TObject*) {
    slowTicks.push_back(backend.NowMs());
    throw Exception("Write failed");
  };
  other.OnTimer = [&](TObject*) { otherTicks.push_back(backend.NowMs()); };
  // The first box stays open for 2 s of loop time, as a user would leave it.
  bool boxOpen = false;
  backend.SetErrorBoxHook([&](const auto&) {
    if (boxOpen) return;
    boxOpen = true;
    backend.AdvanceBy(2000);
    boxOpen = false;
  });
  backend.CreatePeers(form);
  slow.SetEnabled(true);
  other.SetEnabled(true);

  backend.AdvanceBy(700);  // first tick at 700 opens the box until 2700
  EXPECT_EQ(slowTicks, (std::vector<std::int64_t>{700})) << "ticks due at 1400, 2100 skipped";
  EXPECT_EQ(otherTicks, (std::vector<std::int64_t>{500, 1000, 1500, 2000, 2500}))
      << "another timer keeps ticking under the box";
  backend.AdvanceBy(100);  // 2800
  EXPECT_EQ(slowTicks, (std::vector<std::int64_t>{700, 2800}));
}

TEST_F(TimerTest, HandlerThatPumpsMessagesIsNotReEntered) {
  int depth = 0;
  int maxDepth = 0;
  int ticks = 0;
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(100);
  t.OnTimer = [&](TObject*) {
    ++ticks;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    if (ticks == 1) backend.AdvanceBy(350);  // a long nested pump
    --depth;
  };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(500);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(ticks, 2) << "ticks at 100 and 500; 200..400 fell inside the first";
}

TEST_F(TimerTest, DisablingInsideItsOwnTickStopsIt) {
  std::vector<std::int64_t> ticks;
  auto& t = TimerRecording(form, "Timer1", 700, backend, ticks);
  t.OnTimer = [&](TObject*) {
    ticks.push_back(backend.NowMs());
    if (ticks.size() == 2) t.SetEnabled(false);
  };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(28000);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{700, 1400}));
}

TEST_F(TimerTest, FortyTicksOf700MsRunWithoutWaiting) {
  int ticks = 0;
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(700);
  t.OnTimer = [&](TObject*) { ++ticks; };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  backend.AdvanceBy(40 * 700);
  EXPECT_EQ(ticks, 40);
  EXPECT_EQ(backend.NowMs(), 28000);
}

}  // namespace
