// The erase run on a virtual clock: waking the console, the erase, the completion and the
// closes that can come in the middle of a receive event.
#include <gtest/gtest.h>

#include "Form1Fixture.h"

namespace {

using app::EraseScriptUserOnly;
using app::EraseScriptWithConfig;

const std::vector<std::string> kOpenToReady = {
    "COM Port opened, switch Box to Power ON",
    "Serial connected, sending stopbit (1)",
    "Serial connected, sending stopbit (2)",
    "Receiver connected",
};

class EraseRunTest : public Form1Test {
 protected:
  // Open, boot text, two wake-up ticks, the prompt, and the tick that offers the erase.
  void RunToReady() {
    CreateForm();
    Open();
    Receive("U-Boot 2024.01\r\nDRAM: 256 MiB\n");
    EXPECT_TRUE(form->Timer1.Enabled());
    EXPECT_EQ(fake.Written(), "");
    backend.AdvanceBy(700);
    EXPECT_EQ(form->sBar.PanelText(), Stopbit(1));
    backend.AdvanceBy(700);
    EXPECT_EQ(fake.Written(), "\n\n");
    Receive("\nbox> ");
    EXPECT_EQ(app::WakingUp, 0);
    EXPECT_TRUE(app::ConsoleLine.Empty());
    EXPECT_FALSE(form->cmdErase.Enabled());
    backend.AdvanceBy(700);
    EXPECT_EQ(form->sBar.PanelText(), "Receiver connected");
    EXPECT_TRUE(form->cmdErase.Enabled());
    EXPECT_TRUE(form->chkConf.Enabled());
    EXPECT_FALSE(form->Timer1.Enabled());
    EXPECT_EQ(fake.Written(), "\n\n");
  }
  void Erase(bool withConfig) {
    if (withConfig) form->chkConf.UserToggle();
    form->cmdErase.UserClick();
    EXPECT_EQ(app::Erasing, 1);
    EXPECT_EQ(form->Label1.Caption(), "WORKING");
    EXPECT_EQ(form->sBar.PanelText(), "Erasing data, please wait");
    EXPECT_FALSE(form->cmdErase.Enabled());
    EXPECT_FALSE(form->chkConf.Enabled());
  }
  // The whole road, with every status text and state word in order and the exact bytes sent.
  void RoadOfOneErase(bool withConfig) {
    RunToReady();
    fake.ClearCalls();
    Erase(withConfig);
    const std::string line{withConfig ? EraseScriptWithConfig : EraseScriptUserOnly};
    EXPECT_EQ(WrittenChunks(), (std::vector<std::string>{line, "\n"}));
    EXPECT_EQ(fake.Written(), "\n\n" + line + "\n");

    Receive(line + "\r\nErased 4096 sectors\r\n");
    EXPECT_FALSE(form->Timer2.Enabled());
    Receive("\r\nbox> ");
    EXPECT_TRUE(form->Timer2.Enabled());
    backend.AdvanceBy(1499);
    EXPECT_TRUE(fake.IsOpen());
    backend.AdvanceBy(1);
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_FALSE(form->Timer2.Enabled());
    EXPECT_EQ(app::Erasing, 0);

    std::vector<std::string> expected = kOpenToReady;
    expected.insert(expected.end(),
                    {"Erasing data, please wait", "Complete, please switch Box to Power OFF",
                     "COM Port closed, please switch Box to Power OFF"});
    EXPECT_EQ(status, expected);
    EXPECT_EQ(state, (std::vector<std::string>{"PREPARED", "WORKING", "COMPLETE"}));
    EXPECT_TRUE(form->cmdOpen.Enabled());
    EXPECT_FALSE(form->cmdClose.Enabled());
    EXPECT_FALSE(form->cmdErase.Enabled());
    EXPECT_EQ(ErrorTexts(), "");
  }
};

TEST_F(EraseRunTest, TheRoadOfOneEraseUserDataOnly) {
  RoadOfOneErase(false);
}

TEST_F(EraseRunTest, TheRoadOfOneEraseWithConfiguration) {
  RoadOfOneErase(true);
}

TEST_F(EraseRunTest, DeviceAlreadyAtItsConsoleGetsNoLineFeed) {
  CreateForm();
  Open();
  Receive("\r\nbox> ");
  EXPECT_EQ(app::WakingUp, 0);
  backend.AdvanceBy(700);
  EXPECT_EQ(fake.Written(), "");
  EXPECT_EQ(status, (std::vector<std::string>{"COM Port opened, switch Box to Power ON",
                                              "Receiver connected"}));
  EXPECT_TRUE(form->cmdErase.Enabled());
}

TEST_F(EraseRunTest, SilentDeviceIsNeverWoken) {
  CreateForm();
  Open();
  backend.AdvanceBy(60'000);
  EXPECT_EQ(fake.Written(), "");
  EXPECT_EQ(form->sBar.PanelText(), "COM Port opened, switch Box to Power ON");
}

TEST_F(EraseRunTest, DeviceThatNeverPromptsGetsFortyLineFeedsThenOnePerChunk) {
  CreateForm();
  Open();
  Receive("booting\n");
  for (int tick = 1; tick <= 40; ++tick) {
    backend.AdvanceBy(700);
    ASSERT_EQ(form->sBar.PanelText(), Stopbit(tick));
    ASSERT_EQ(fake.Written(), std::string(static_cast<std::size_t>(tick), '\n'));
  }
  EXPECT_FALSE(form->Timer1.Enabled());
  backend.AdvanceBy(10'000);
  EXPECT_EQ(fake.Written().size(), 40u);
  for (int tick = 41; tick <= 43; ++tick) {
    Receive("still booting\n");
    backend.AdvanceBy(699);
    EXPECT_EQ(fake.Written().size(), static_cast<std::size_t>(tick - 1));
    backend.AdvanceBy(1);
    EXPECT_EQ(form->sBar.PanelText(), Stopbit(tick));
    backend.AdvanceBy(5'000);
    EXPECT_EQ(fake.Written().size(), static_cast<std::size_t>(tick));
  }
  EXPECT_EQ(ErrorTexts(), "");
}

TEST_F(EraseRunTest, TickCounterWrapsAfter255AndRunsOnUntilItPasses39) {
  CreateForm();
  Open();
  Receive("boot ");
  backend.AdvanceBy(40 * 700);
  for (int tick = 41; tick <= 255; ++tick) {
    Receive(".");
    backend.AdvanceBy(700);
    ASSERT_EQ(form->sBar.PanelText(), Stopbit(tick));
    ASSERT_FALSE(form->Timer1.Enabled()) << "tick " << tick;
  }
  Receive(".");
  backend.AdvanceBy(700);
  EXPECT_EQ(form->sBar.PanelText(), Stopbit(0));
  EXPECT_TRUE(form->Timer1.Enabled());
  for (int tick = 1; tick <= 40; ++tick) {
    backend.AdvanceBy(700);
    ASSERT_EQ(form->sBar.PanelText(), Stopbit(tick));
  }
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(fake.Written().size(), 255u + 1u + 40u);
}

TEST_F(EraseRunTest, ReceiveEventWithNothingWaitingDoesNothing) {
  CreateForm();
  Open();
  fake.RaiseEvents(drv::kEvRxChar);
  Settle();
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(fake.CountOf("ReadFile"), 0);
  backend.AdvanceBy(5'000);
  EXPECT_EQ(fake.Written(), "");
}

TEST_F(EraseRunTest, TextAfterThePromptIsReadFirstWhenTheEraseStarts) {
  CreateForm();
  Open();
  Receive("boot\nbox> ");
  Receive("late1");  // Prompt seen: not read
  EXPECT_EQ(fake.InputQueued(), 5u);
  backend.AdvanceBy(700);
  Receive("late2");  // Ready: not read
  EXPECT_EQ(fake.InputQueued(), 10u);
  form->cmdErase.UserClick();
  Receive("echo");
  EXPECT_EQ(fake.InputQueued(), 0u);
  EXPECT_EQ(app::ConsoleLine.Tail(), "late1late2echo");
}

TEST_F(EraseRunTest, TwoPromptsCloseOnceAtTheFirstPlusOneAndAHalfSeconds) {
  RunToReady();
  Erase(false);
  Receive("\r\nbox> ");
  backend.AdvanceBy(1000);
  Receive("\nbox> ");
  backend.AdvanceBy(499);
  EXPECT_TRUE(fake.IsOpen());
  backend.AdvanceBy(1);
  EXPECT_FALSE(fake.IsOpen());
  backend.AdvanceBy(5'000);
  EXPECT_EQ(fake.CountOf("CloseHandle"), 1);
}

TEST_F(EraseRunTest, CloseComWhileCompletingThenTheTimerClosesAgain) {
  RunToReady();
  Erase(false);
  Receive("\r\nbox> ");
  status.clear();
  form->cmdClose.UserClick();
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  EXPECT_TRUE(form->Timer2.Enabled());
  backend.AdvanceBy(1500);
  EXPECT_EQ(app::Erasing, 0);
  EXPECT_EQ(status, (std::vector<std::string>{"COM Port closed, please switch Box to Power OFF",
                                              "Complete, please switch Box to Power OFF",
                                              "COM Port closed, please switch Box to Power OFF"}));
  EXPECT_EQ(ErrorTexts(), "");
}

TEST_F(EraseRunTest, OpeningAgainStopsACompletionLeftFromTheLastRun) {
  RunToReady();
  Erase(false);
  Receive("\r\nbox> ");
  form->cmdClose.UserClick();
  Open();
  EXPECT_FALSE(form->Timer2.Enabled());
  backend.AdvanceBy(5'000);
  EXPECT_TRUE(fake.IsOpen());
  EXPECT_EQ(form->sBar.PanelText(), "COM Port opened, switch Box to Power ON");
}

// A receive event handled while "Close COM" closes the port restarts waking; no tick may then
// write to the closed port.
TEST_F(EraseRunTest, CloseWhileBootTextStreamsInLeavesNoWakeUpRunning) {
  CreateForm();
  Open();
  Receive("boot\n");
  for (int i = 0; i < 20; ++i) {
    fake.Receive("more boot text\n");  // not settled: the event may be handed over mid-close
    form->cmdClose.UserClick();
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_FALSE(form->Timer1.Enabled()) << "round " << i;
    const std::size_t written = fake.Written().size();
    backend.AdvanceBy(30'000);
    EXPECT_EQ(fake.Written().size(), written);
    Open();
  }
  EXPECT_EQ(ErrorTexts(), "");
}

TEST_F(EraseRunTest, FailedWakeUpWriteIsShownAndTheNextTickTriesAgain) {
  CreateForm();
  Open();
  Receive("boot\n");
  backend.AdvanceBy(700);
  fake.FailNext("WriteFile", 22);
  backend.AdvanceBy(700);
  EXPECT_EQ(ErrorTexts(), "WriteFile function failed (win error code: 22)\n");
  EXPECT_EQ(form->sBar.PanelText(), Stopbit(1));
  EXPECT_EQ(app::WakeTicks, 2);
  EXPECT_TRUE(form->Timer1.Enabled());
  backend.AdvanceBy(700);
  EXPECT_EQ(form->sBar.PanelText(), Stopbit(3));
  EXPECT_EQ(fake.Written(), "\n\n");
}

TEST_F(EraseRunTest, FailedEraseWriteLeavesTheRunForCloseCom) {
  RunToReady();
  fake.FailNext("WriteFile", 22);
  form->cmdErase.UserClick();
  EXPECT_EQ(ErrorTexts(), "WriteFile function failed (win error code: 22)\n");
  EXPECT_EQ(form->sBar.PanelText(), "Erasing data, please wait");
  EXPECT_EQ(app::Erasing, 1);
  EXPECT_EQ(form->Label1.Caption(), "PREPARED");
  EXPECT_FALSE(form->cmdErase.Enabled());
  EXPECT_FALSE(form->chkConf.Enabled());
  form->cmdClose.UserClick();
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
}

// Runs action inside the receive handler's own message pump, then the handler itself.
class InsidePumpTest : public EraseRunTest {
 protected:
  void DuringNextReceive(std::function<void()> action) {
    auto handler = form->Cx1.OnRxChar;
    form->Cx1.OnRxChar = [this, handler, action](TObject* sender, int count) {
      rt::Post(action);
      handler(sender, count);
      stillOpenAfterHandler = fake.IsOpen();
    };
  }
  bool stillOpenAfterHandler = false;
};

TEST_F(InsidePumpTest, CloseComClickedInsideTheReceivePumpClosesAfterTheHandler) {
  CreateForm();
  Open();
  DuringNextReceive([this] { form->cmdClose.UserClick(); });
  Receive("boot text\n");
  EXPECT_TRUE(stillOpenAfterHandler);
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(form->sBar.PanelText(), "COM Port closed, please switch Box to Power OFF");
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  backend.AdvanceBy(30'000);
  EXPECT_EQ(fake.Written(), "");
  EXPECT_EQ(ErrorTexts(), "");
}

TEST_F(InsidePumpTest, WindowClosedInsideTheReceivePumpClosesAfterTheHandler) {
  CreateForm();
  Open();
  DuringNextReceive([this] { backend.PostClose(*form); });
  Receive("boot text\n");
  EXPECT_TRUE(stillOpenAfterHandler);
  EXPECT_TRUE(form->Closed());
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_TRUE(std::filesystem::exists(dir.File("Zanowipe.ini")));
}

TEST_F(InsidePumpTest, CompletionTickInsideTheReceivePumpClosesAfterTheHandler) {
  RunToReady();
  Erase(false);
  Receive("\r\nbox> ");
  DuringNextReceive([this] { form->Timer2.Tick(); });
  Receive("more\n");
  EXPECT_TRUE(stillOpenAfterHandler);
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(form->sBar.PanelText(), "COM Port closed, please switch Box to Power OFF");
  EXPECT_EQ(app::Erasing, 0);
  EXPECT_EQ(ErrorTexts(), "");
}

// The receive event may be handled in "Close COM"'s pump or inside the close itself, and asks
// for another close from inside its own pump: every way ends closed, once, without a hang.
TEST_F(InsidePumpTest, CloseAskedForInsideAReceiveThatRunsDuringAClose) {
  CreateForm();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    Open();
    DuringNextReceive([this] { form->cmdClose.UserClick(); });
    const int closes = fake.CountOf("CloseHandle");
    fake.Receive("boot text\n");
    form->cmdClose.UserClick();
    backend.AdvanceBy(3'000);
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_EQ(fake.CountOf("CloseHandle"), closes + 1);
    EXPECT_FALSE(form->Timer1.Enabled());
    EXPECT_EQ(form->sBar.PanelText(), "COM Port closed, please switch Box to Power OFF");
    EXPECT_EQ(app::ReceiveHandlerDepth, 0);
    EXPECT_FALSE(app::PendingPortClose);
  }
  EXPECT_EQ(ErrorTexts(), "");
}

class ReadTest : public Form1Test {
 protected:
  // The port without its event thread, so a test can call the receive handler itself.
  void OpenUnwatched() {
    CreateForm();
    form->Cx1.SetEvents(TEvents{});
    form->cmdOpen.UserClick();
    ASSERT_TRUE(fake.IsOpen());
  }
};

TEST_F(ReadTest, ShortReadScansWhatArrived) {
  OpenUnwatched();
  fake.Receive("boot\nbox> ");
  form->Cx1RxChar(&form->Cx1, 64);
  EXPECT_EQ(app::WakingUp, 0);
}

TEST_F(ReadTest, CountBeyondTheBufferIsReadInPieces) {
  OpenUnwatched();
  const std::string text = std::string(3 * app::kReceiveBufferSize + 5, 'a') + "box> ";
  fake.Receive(text);
  form->Cx1RxChar(&form->Cx1, static_cast<int>(text.size()));
  EXPECT_EQ(fake.InputQueued(), 0u);
  EXPECT_EQ(app::WakingUp, 0);
  for (const auto& call : fake.Calls()) {
    if (call.name == "ReadFile") {
      EXPECT_LE(call.args.at(0), app::kReceiveBufferSize);
    }
  }
}

}  // namespace
