// Faults met by the whole tool: the window's handlers on the headless loop, the termios engine
// and a pty whose far end the test plays. Each case checks what the technician sees and that
// nothing is left running: after the port closes, this process has the descriptors and
// threads it had before the port opened, and nothing burns CPU while the tool waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/ModuleState.h"
#include "tests/faults/ProcessWatch.h"
#include "tests/faults/PtyDevice.h"
#include "tests/faults/WindowRun.h"

namespace faults {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kClosedText = "COM Port closed, please switch Box to Power OFF";
// A close after the erase line went out and before the range was read back.
constexpr const char* kNotVerifiedText =
    "Erase not verified: the port was closed before the erase was verified, please switch Box "
    "to Power OFF";

::testing::AssertionResult AnyContains(const std::vector<std::string>& texts,
                                       const std::string& part) {
  for (const auto& t : texts) {
    if (t.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure() << "no text contains \"" << part << "\" among:";
  for (const auto& t : texts) failure << "\n  " << t;
  return failure;
}

// What the window shows when its port's watcher ends because the device went away.
constexpr const char* kDeviceGone = "Unable to get async status (win error code: 1167)";

// Every error box so far is the watcher's report that the device went away: nothing else
// failed. (Whether that report has arrived yet is not the point here.)
::testing::AssertionResult OnlyWatcherReports(WindowRun& run) {
  const std::vector<std::string> texts = run.ErrorTexts();
  for (const auto& t : texts) {
    if (t != kDeviceGone) return ::testing::AssertionFailure() << "error box: " << t;
  }
  if (texts.size() != run.BackgroundErrors().size()) {
    return ::testing::AssertionFailure()
           << texts.size() << " error boxes for " << run.BackgroundErrors().size() << " reports";
  }
  return ::testing::AssertionSuccess();
}

// CPU used by the whole process while the loop idles for `span`.
double CpuWhileIdle(WindowRun& run, milliseconds span) {
  const double before = ProcessCpuSeconds();
  run.Idle(span);
  return ProcessCpuSeconds() - before;
}

class RunFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    run = std::make_unique<WindowRun>();
    run->UseDevice(box.Path());
    before = Snapshot();
  }
  // The port closed, nothing of it left in the process.
  void ExpectNothingLeft() {
    EXPECT_FALSE(run->Form().Cx1.Connected());
    EXPECT_TRUE(ThreadsBackTo(before.threads))
        << "before: " << Describe(before) << ", now: " << Describe(Snapshot());
    // A hang-up closed the device's end (the test's own descriptor) too.
    const int expectedFds = before.fds - (box.Open() ? 0 : 1);
    EXPECT_EQ(Snapshot().fds, expectedFds)
        << "before: " << Describe(before) << ", now: " << Describe(Snapshot());
  }
  void CloseAndCheck(const char* closedText = kClosedText) {
    run->ClickClose();
    EXPECT_EQ(run->Status(), closedText);
    ExpectNothingLeft();
  }

  PtyDevice box;
  std::unique_ptr<WindowRun> run;
  Resources before;
};

// ---- opening ------------------------------------------------------------------------------

TEST_F(RunFaults, MissingDeviceShowsTheOpenErrorAndLeavesNothingOpen) {
  run->UseDevice(run->Dir() + "/no-such-tty");
  run->ClickOpen();
  EXPECT_EQ(run->ErrorTexts(),
            std::vector<std::string>{"Unable to open com port (win error code: 2)"});
  EXPECT_FALSE(run->Form().Cx1.Connected());
  EXPECT_TRUE(run->Form().cmdOpen.Enabled());
  EXPECT_EQ(run->Status(), "");
  ExpectNothingLeft();
}

// Another program (a second copy of the tool) holds the device with the same exclusive lock.
TEST_F(RunFaults, DeviceHeldByAnotherProcessShowsAccessDeniedUntilItLetsGo) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    close(ready[0]);
    close(release[1]);  // else the read below never sees the parent let go
    const int fd = open(box.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    char c;
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_EQ(ok, 'y');

  const int fdsBeforeOpen = Snapshot().fds;
  run->ClickOpen();
  EXPECT_EQ(run->ErrorTexts(),
            std::vector<std::string>{"Unable to open com port (win error code: 5)"});
  EXPECT_FALSE(run->Form().Cx1.Connected());
  EXPECT_EQ(Snapshot().fds, fdsBeforeOpen);

  close(release[1]);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  before = Snapshot();  // the holder's pipes are closed; a sanitizer may have added a thread
  run->Backend().ClearErrorBoxes();
  run->ClickOpen();
  EXPECT_TRUE(run->Form().Cx1.Connected());
  EXPECT_TRUE(run->ErrorTexts().empty());
  CloseAndCheck();
}

// ---- hang-up in each state of the run ------------------------------------------------------

TEST_F(RunFaults, HangUpWhileWakingShowsTheFailedWakeWritesAndClosesCleanly) {
  run->ClickOpen();
  ASSERT_TRUE(run->Form().Cx1.Connected());
  box.Send(kBootText);
  ASSERT_TRUE(run->Pump([&] { return box.Received().find('\n') != std::string::npos; }));
  box.HangUp();
  // The next wake-up tick writes to a device that is gone: the write error is shown.
  ASSERT_TRUE(run->Pump(
      [&] {
        return bool(
            AnyContains(run->ErrorTexts(), "WriteFile function failed (win error code: 1167)"));
      },
      seconds(10)));
  EXPECT_TRUE(AnyContains(run->BackgroundErrors(), kDeviceGone));
  EXPECT_EQ(app::WakingUp, 1);
  EXPECT_LT(CpuWhileIdle(*run, seconds(2)), 0.5);
  CloseAndCheck();
}

TEST_F(RunFaults, HangUpAfterThePromptStillOffersTheEraseWhoseWriteThenFails) {
  run->ClickOpen();
  box.Send(kBootText);
  ASSERT_TRUE(run->Pump([&] { return box.Received().find('\n') != std::string::npos; }));
  box.Send(kPrompt);
  ASSERT_TRUE(run->Pump([] { return app::WakingUp == 0; }));
  box.HangUp();  // the state "Prompt seen": Timer1 still runs, nothing is written any more
  ASSERT_TRUE(run->Pump([&] { return run->Status() == "Receiver connected"; }));
  EXPECT_TRUE(OnlyWatcherReports(*run));
  run->ClickErase();
  EXPECT_TRUE(AnyContains(run->ErrorTexts(), "WriteFile function failed (win error code: 1167)"));
  EXPECT_EQ(run->Status(), "Erasing data, please wait");
  EXPECT_FALSE(run->Form().cmdErase.Enabled());
  EXPECT_NE(run->StateWord(), "WORKING");
  EXPECT_LT(CpuWhileIdle(*run, seconds(1)), 0.5);
  CloseAndCheck(kNotVerifiedText);
}

TEST_F(RunFaults, HangUpWhenReadyMakesTheEraseClickShowTheWriteError) {
  run->ClickOpen();
  ASSERT_TRUE(run->BootToReady(box));
  box.HangUp();
  ASSERT_TRUE(run->Pump([&] { return !run->BackgroundErrors().empty(); }, seconds(10)));
  run->ClickErase();
  EXPECT_TRUE(AnyContains(run->ErrorTexts(), "WriteFile function failed (win error code: 1167)"));
  EXPECT_EQ(run->Status(), "Erasing data, please wait");
  EXPECT_EQ(app::Erasing, 1);
  CloseAndCheck(kNotVerifiedText);
}

TEST_F(RunFaults, HangUpWhileErasingNeverReportsCompletionAndClosesCleanly) {
  run->ClickOpen();
  ASSERT_TRUE(run->BootToReady(box));
  run->ClickErase();
  ASSERT_TRUE(
      run->Pump([&] { return box.Received().find("vfd COMPLETE\n") != std::string::npos; }));
  EXPECT_EQ(run->StateWord(), "WORKING");
  box.Send("protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;");
  box.HangUp();
  ASSERT_TRUE(run->Pump([&] { return !run->BackgroundErrors().empty(); }, seconds(10)));
  EXPECT_EQ(run->BackgroundErrors(), std::vector<std::string>{kDeviceGone});
  EXPECT_EQ(run->ErrorTexts(), std::vector<std::string>{kDeviceGone});
  // No prompt will come: the run waits (as it does for a slow erase) until the technician
  // closes; it never claims completion on its own.
  run->Idle(seconds(2));
  EXPECT_FALSE(run->Form().Timer2.Enabled());
  EXPECT_EQ(run->Status(), "Erasing data, please wait");
  EXPECT_EQ(run->StateWord(), "WORKING");
  EXPECT_TRUE(run->Form().Cx1.Connected());
  EXPECT_LT(CpuWhileIdle(*run, seconds(1)), 0.5);
  CloseAndCheck(kNotVerifiedText);
}

TEST_F(RunFaults, HangUpWhileCompletingStillClosesOnTimeWithoutAnError) {
  run->ClickOpen();
  ASSERT_TRUE(run->BootToReady(box));
  run->ClickErase();
  ASSERT_TRUE(
      run->Pump([&] { return box.Received().find("vfd COMPLETE\n") != std::string::npos; }));
  box.Send("Erased 64 sectors\nsimbox> ");
  ASSERT_TRUE(run->Pump(
      [&] { return box.Received().find("crc32 a1c00000 400000\n") != std::string::npos; }));
  box.Send("crc32 for a1c00000 ... a1ffffff ==> 7d5b6975\nsimbox> ");
  ASSERT_TRUE(run->Pump([&] { return run->Form().Timer2.Enabled(); }));
  box.HangUp();
  ASSERT_TRUE(run->Pump([&] { return !run->Form().Cx1.Connected(); }, seconds(10)));
  EXPECT_EQ(run->Status(), kClosedText);
  EXPECT_EQ(run->StateWord(), "COMPLETE");
  EXPECT_TRUE(OnlyWatcherReports(*run));
  ExpectNothingLeft();
}

// ---- what the device sends ----------------------------------------------------------------

// The driver drops NUL bytes: a line full of them never even starts the wake-up.
TEST_F(RunFaults, FloodOfNulBytesIsDroppedAndNeverWakesTheTool) {
  run->ClickOpen();
  const std::string nuls(1 << 20, '\0');
  std::atomic<std::size_t> sent{0};
  std::thread device([&] { sent = box.Send(nuls, seconds(120)); });
  const double cpuBefore = ProcessCpuSeconds();
  run->Pump([&] { return sent.load() != 0; }, seconds(150));
  device.join();
  ASSERT_EQ(sent.load(), nuls.size());
  run->Idle(milliseconds(1500));
  EXPECT_FALSE(run->Form().Timer1.Enabled());
  EXPECT_EQ(box.Received(), "");  // not one wake-up line feed
  EXPECT_EQ(run->Status(), "COM Port opened, switch Box to Power ON");
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 30.0);  // 1 MiB, not a spin
  EXPECT_LT(CpuWhileIdle(*run, seconds(1)), 0.3);
  box.Send(std::string(100, '\0') + "boot\n" + kPrompt);
  ASSERT_TRUE(run->Pump([&] { return run->Status() == "Receiver connected"; }));
  CloseAndCheck();
}

// Ten megabytes with no line feed: the console line keeps only what the prompt rule needs,
// the tool keeps waking, and the prompt at the end is still found.
TEST_F(RunFaults, TenMegabytesWithoutALineFeedKeepMemoryBoundedAndThePromptIsFound) {
  run->ClickOpen();
  std::string flood;
  flood.reserve(10u << 20);
  while (flood.size() < (10u << 20)) flood += "boot noise without an end of line 0123456789 ";
  flood += kPrompt;
  const long peakBefore = PeakRssKb();
  std::atomic<std::size_t> sent{0};
  std::thread device([&] { sent = box.Send(flood, seconds(240)); });
  const bool ready = run->Pump([&] { return run->Status() == "Receiver connected"; }, seconds(270));
  device.join();
  ASSERT_EQ(sent.load(), flood.size());
  flood = std::string();
  EXPECT_TRUE(ready) << run->Status();
  EXPECT_LE(app::ConsoleLine.Tail().size(), app::ConsoleLineBuffer::kKeptTail);
  EXPECT_LT(PeakRssKb() - peakBefore, 40 * 1024)
      << "peak resident memory grew by " << (PeakRssKb() - peakBefore) << " kB";
  EXPECT_TRUE(run->ErrorTexts().empty());
  CloseAndCheck();
}

// A burst far larger than the 1024-byte input queue, all of it in 0x80-0xFF: the driver holds
// back what does not fit, nothing is lost, and the prompt after it is found.
TEST_F(RunFaults, BurstOfHighBytesLargerThanTheQueueIsReadWholeAndThePromptFound) {
  run->ClickOpen();
  std::string burst;
  for (int i = 0; i < 64 * 1024; ++i) burst += static_cast<char>(0x80 + i % 0x80);
  std::atomic<std::size_t> sent{0};
  std::thread device([&] { sent = box.Send(burst + kPrompt, seconds(60)); });
  const bool ready = run->Pump([&] { return run->Status() == "Receiver connected"; }, seconds(90));
  device.join();
  EXPECT_EQ(sent.load(), burst.size() + std::string(kPrompt).size());
  EXPECT_TRUE(ready) << run->Status();
  EXPECT_TRUE(run->ErrorTexts().empty());
  CloseAndCheck();
}

}  // namespace
}  // namespace faults
