// The erase run on a virtual clock: waking the console, the erase, its read-back, the completion
// and the closes that can come in the middle of a receive event.
#include <gtest/gtest.h>

#include "Form1Fixture.h"
#include "app/SettingsFile.h"

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
  // The console's answer to the erase line and to the read-back of the user data range.
  void EchoAndPrompt(const std::string& line, const std::string& words = "Erased 64 sectors\r\n") {
    Receive(line + "\r\n" + words + "box> ");
  }
  void AnswerReadBack(const std::string& crc = "7d5b6975") {
    Receive("crc32 a1c00000 400000\r\ncrc32 for a1c00000 ... a1ffffff ==> " + crc + "\r\nbox> ");
  }
  // The erase line's reply and a read-back that shows the range erased: the completion runs.
  void EndErase() {
    EchoAndPrompt(std::string(EraseScriptUserOnly));
    AnswerReadBack();
    ASSERT_TRUE(form->Timer2.Enabled());
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
  // A fresh window ready for the user data erase, for the next case of a table: the erase line
  // has been sent.
  void StartOverAndErase() {
    status.clear();
    state.clear();
    form.reset();
    fake.ClearWritten();
    app::ResetModuleState();
    RunToReady();
    Erase(false);
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
    const std::string readBack = withConfig ? "crc32 a1b00000 500000" : "crc32 a1c00000 400000";
    EXPECT_EQ(WrittenChunks(), (std::vector<std::string>{line, "\n", readBack, "\n"}));
    EXPECT_EQ(form->sBar.PanelText(), "Checking the erased range, please wait");
    EXPECT_FALSE(form->Timer2.Enabled());
    Receive(readBack + "\ncrc32 for " + (withConfig ? "a1b00000" : "a1c00000") +
            " ... a1ffffff ==> " + (withConfig ? "ac9c6488" : "7d5b6975") + "\n");
    EXPECT_FALSE(form->Timer2.Enabled());
    Receive("\r\nbox> ");
    EXPECT_TRUE(form->Timer2.Enabled());
    EXPECT_EQ(app::Verdict.result, app::EraseResult::Complete);
    backend.AdvanceBy(1499);
    EXPECT_TRUE(fake.IsOpen());
    backend.AdvanceBy(1);
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_FALSE(form->Timer2.Enabled());
    EXPECT_EQ(app::Erasing, 0);

    std::vector<std::string> expected = kOpenToReady;
    expected.insert(expected.end(),
                    {"Erasing data, please wait", "Checking the erased range, please wait",
                     "Complete, please switch Box to Power OFF",
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

// Prompts the console earned for wake-up line feeds that crossed its first prompt, queued or still
// on their way, are not the end of the erase.
TEST_F(EraseRunTest, PromptsFromBeforeTheEraseLineDoNotEndIt) {
  CreateForm();
  Open();
  Receive("boot\nbox> ");
  Receive("\nbox> ");  // Prompt seen: not read
  backend.AdvanceBy(700);
  Receive("\nbox> ");  // Ready: not read
  EXPECT_EQ(fake.InputQueued(), 12u);
  form->cmdErase.UserClick();
  EXPECT_EQ(fake.InputQueued(), 0u) << "dropped when the line was sent";
  Receive("> \nbox> ");  // still on its way when the line went out
  Receive(std::string(EraseScriptUserOnly) + "\n....");
  EXPECT_EQ(fake.Written().find("crc32"), std::string::npos);
  EXPECT_EQ(form->sBar.PanelText(), "Erasing data, please wait");
  Receive(" done\nbox> ");
  EXPECT_NE(fake.Written().find("crc32 a1c00000 400000\n"), std::string::npos);
  EXPECT_EQ(app::EraseReply.Text(),
            "> \nbox> " + std::string(EraseScriptUserOnly) + "\n.... done\nbox> ");
}

TEST_F(EraseRunTest, TwoPromptsCloseOnceAtTheFirstPlusOneAndAHalfSeconds) {
  RunToReady();
  Erase(false);
  EndErase();
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
  EndErase();
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
  EndErase();
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
  // The line may have gone out in part: nothing says what the flash holds.
  EXPECT_EQ(form->Label1.Caption(), "UNVERIFIED");
  EXPECT_EQ(form->sBar.PanelText(),
            "Erase not verified: the port was closed before the erase was verified, please "
            "switch Box to Power OFF");
}

// What the window shows for each way the erase and its read-back can end.
TEST_F(EraseRunTest, TheReadBackDecidesTheResult) {
  const std::string off = ", please switch Box to Power OFF";
  const std::string done = "Un-Protected 64 sectors\r\n.... done\r\nErased 64 sectors\r\n";
  const std::string warning = "- Warning: 64 protected sectors will not be erased!\r\n";
  const std::string good = "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975\r\n";
  const std::string bad = "crc32 for a1c00000 ... a1ffffff ==> 0badf00d\r\n";
  const std::string noCrc = "Unknown command 'crc32' - try 'help'\r\n";
  struct Case {
    const char* name;
    std::string words;     // the console's reply to the erase line, before its prompt
    std::string readBack;  // its reply to the read-back (after the echo); "silent": none
    const char* state;
    std::string status;  // what stays on screen
    bool correction;     // "vfd ERASE FAILED" sent
  };
  const Case cases[] = {
      {"erased, no display", done + "Unknown command 'vfd' - try 'help'\r\n", good, "COMPLETE",
       "COM Port closed" + off, false},
      {"write-protected chip", done, bad, "FAILED",
       "Erase failed: the range does not read back erased: crc32 0badf00d, expected 7d5b6975" + off,
       true},
      {"sectors stay protected", warning + done, bad, "FAILED",
       "Erase failed: - Warning: 64 protected sectors will not be erased!" + off, true},
      {"no crc32", done, noCrc, "UNVERIFIED",
       "Erase not verified: the console cannot read back: Unknown command 'crc32' - try 'help'" +
           off,
       false},
      {"refused, no crc32", "Error: start address not on sector\x1b[2J boundary\r\n", noCrc,
       "FAILED", "Erase failed: Error: start address not on sector\\x1b[2J boundary" + off, true},
      {"silent after the read-back command", done, "silent", "UNVERIFIED",
       "Erase not verified: no answer to \"crc32 a1c00000 400000\" within 30 s" + off, false},
      {"reboots at the read-back command", done,
       "\r\nSimBox boot loader 2026.03\r\nHit Enter to stop autoboot:  3", "UNVERIFIED",
       "Erase not verified: no answer to \"crc32 a1c00000 400000\" within 30 s" + off, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartOverAndErase();
    EchoAndPrompt(std::string(EraseScriptUserOnly), c.words);
    if (c.readBack == "silent" || c.readBack.find("boot loader") != std::string::npos) {
      Receive("crc32 a1c00000 400000\r\n" + (c.readBack == "silent" ? "" : c.readBack));
      backend.AdvanceBy(29'999);
      EXPECT_FALSE(form->Timer2.Enabled());
      backend.AdvanceBy(1);
    } else {
      Receive("crc32 a1c00000 400000\r\n" + c.readBack + "box> ");
    }
    EXPECT_TRUE(form->Timer2.Enabled());
    backend.AdvanceBy(1500);
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_EQ(form->sBar.PanelText(), c.status);
    EXPECT_EQ(state, (std::vector<std::string>{"PREPARED", "WORKING", c.state}));
    EXPECT_EQ(fake.Written().find("vfd ERASE FAILED\n") != std::string::npos, c.correction);
    EXPECT_EQ(ErrorTexts(), "");
  }
}

TEST_F(EraseRunTest, ClosedWhileTheRangeIsReadBackIsNotVerified) {
  RunToReady();
  Erase(false);
  EchoAndPrompt(std::string(EraseScriptUserOnly));
  form->cmdClose.UserClick();
  EXPECT_EQ(form->Label1.Caption(), "UNVERIFIED");
  EXPECT_FALSE(form->Timer3.Enabled());
  backend.AdvanceBy(60'000);
  EXPECT_EQ(form->Label1.Caption(), "UNVERIFIED");
  EXPECT_EQ(ErrorTexts(), "");
}

// For Boxes whose console has no crc32: the prompt ends the erase, and the status says so.
TEST_F(EraseRunTest, ReadBackSwitchedOffInTheSettingsFile) {
  {
    app::TIniFile ini(dir.File("Zanowipe.ini"));
    ini.WriteInteger("APP", "READ BACK", 0);
  }
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused);
    StartOverAndErase();
    EchoAndPrompt(std::string(EraseScriptUserOnly),
                  refused ? "Error: start address not on sector boundary\n" : "Erased\n");
    EXPECT_TRUE(form->Timer2.Enabled());
    EXPECT_EQ(fake.Written().find("crc32"), std::string::npos);
    backend.AdvanceBy(1500);
    EXPECT_EQ(form->sBar.PanelText(),
              refused ? "Erase failed: Error: start address not on sector boundary, please "
                        "switch Box to Power OFF"
                      : "COM Port closed, erase not verified, please switch Box to Power OFF");
    EXPECT_EQ(form->Label1.Caption(), refused ? "FAILED" : "COMPLETE");
  }
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
  EndErase();
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
