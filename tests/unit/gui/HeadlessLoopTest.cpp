#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/MainThread.h"
#include "tests/unit/gui/HeadlessFixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using HeadlessLoop = HeadlessTest;

TEST_F(HeadlessLoop, RunUntilWakesForAPostFromAnotherThread) {
  std::atomic<bool> ranOnMain{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rt::Post([&] { ranOnMain = rt::IsMainThread(); });
  });
  const auto start = Clock::now();
  const bool ok = backend.RunUntil([&] { return ranOnMain.load(); }, 20000);
  const auto waited = Clock::now() - start;
  worker.join();
  EXPECT_TRUE(ok);
  // Woken by the post, not by the 20 s limit.
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_EQ(backend.NowMs(), 0) << "virtual time does not move while waiting";
}

TEST_F(HeadlessLoop, SynchronizeFromAWorkerRunsInsideRunUntilAndReturnsItsResult) {
  int value = 0;
  int seenByWorker = 0;
  std::thread worker([&] {
    rt::Synchronize([&] { value = 42; });
    seenByWorker = value;
  });
  const auto start = Clock::now();
  EXPECT_TRUE(backend.RunUntil([&] { return value == 42; }, 20000));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  worker.join();
  EXPECT_EQ(seenByWorker, 42);
}

TEST_F(HeadlessLoop, RunUntilGivesUpAfterItsTimeout) {
  const auto start = Clock::now();
  EXPECT_FALSE(backend.RunUntil([] { return false; }, 50));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(HeadlessLoop, ProcessMessagesRunsDueTicksButNeverMovesVirtualTime) {
  int ticks = 0;
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(700);
  t.OnTimer = [&](TObject*) { ++ticks; };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  gui::App().ProcessMessages();
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(backend.NowMs(), 0);
  EXPECT_EQ(backend.NextDueMs(), 700);
}

TEST_F(HeadlessLoop, RunEndsWhenAHandlerClosesTheForm) {
  auto& t = form.AddTimer("Timer2");
  t.SetInterval(1500);
  t.OnTimer = [&](TObject*) { form.Close(); };
  int closes = 0;
  form.OnClose = [&](TObject*, gui::TCloseAction&) { ++closes; };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  gui::App().Run(form);  // virtual time jumps to the tick when nothing else happens
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(closes, 1);
  EXPECT_GE(backend.NowMs(), 1500);
  EXPECT_FALSE(backend.IsShown(form));
}

TEST_F(HeadlessLoop, BackgroundFailureDuringRunIsShownInTheErrorBox) {
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(700);
  t.OnTimer = [&](TObject*) {
    t.SetEnabled(false);
    std::thread([] {
      rt::ReportBackgroundError(std::make_exception_ptr(Exception("Device went away")));
    }).join();
    rt::Post([&] { form.Close(); });
  };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  gui::App().Run(form);
  ASSERT_EQ(backend.ErrorBoxes().size(), 1u);
  EXPECT_EQ(backend.ErrorBoxes()[0].text, "Device went away.");
}

TEST(HeadlessRealClock, TimerTicksOnRealTime) {
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  gui::Form form("Form1");
  int ticks = 0;
  auto& t = form.AddTimer("Timer1");
  t.SetInterval(20);
  t.OnTimer = [&](TObject*) { ++ticks; };
  backend.CreatePeers(form);
  t.SetEnabled(true);
  const auto start = Clock::now();
  backend.AdvanceBy(300);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  // Generous: scheduling on a loaded machine may swallow some periods, never add any.
  EXPECT_GE(ticks, 1);
  EXPECT_LE(ticks, 15);
  gui::App().SetBackend(nullptr);
}

TEST_F(HeadlessLoop, OpenDocumentAndScreensAreRecorded) {
  backend.OpenDocument("https://zanowipe.example/");
  EXPECT_EQ(backend.OpenedDocuments(), std::vector<std::string>{"https://zanowipe.example/"});
  ASSERT_EQ(backend.Screens().size(), 1u);
  EXPECT_EQ(backend.Screens()[0].Width, 1920);
  backend.SetScreens({{0, 0, 800, 600}, {800, 0, 1024, 768}});
  EXPECT_EQ(backend.Screens()[1].Left, 800);
}

}  // namespace
