// The window's typed progress: what an observer hears matches what the window shows, step by
// step, and the bytes it hears about are those the driver was given, in order.
#include <gtest/gtest.h>

#include <set>

#include "Form1Fixture.h"
#include "app/RunObserver.h"

namespace {

struct Heard : app::RunObserver {
  std::vector<app::RunProgress> progress;
  std::string received;
  std::vector<std::string> sent;
  std::vector<app::EraseVerdict> verdicts;
  void Checked(const app::EraseVerdict& v) override { verdicts.push_back(v); }
  void Progressed(const app::RunProgress& p) override { progress.push_back(p); }
  void Received(std::string_view text) override { received += text; }
  void Sent(std::string_view bytes) override { sent.emplace_back(bytes); }

  // The status texts heard, each once in a row, as the status bar's peer records them.
  std::vector<std::string> Statuses() const {
    std::vector<std::string> texts;
    for (const auto& p : progress) {
      if (texts.empty() || texts.back() != p.status) texts.push_back(p.status);
    }
    return texts;
  }
  std::vector<app::RunStep> Steps() const {
    std::vector<app::RunStep> steps;
    for (const auto& p : progress) {
      if (steps.empty() || steps.back() != p.step) steps.push_back(p.step);
    }
    return steps;
  }
};

class RunObserverTest : public Form1Test {
 protected:
  void CreateObservedForm() {
    CreateForm();
    form->Observer = &heard;
  }
  Heard heard;
};

TEST_F(RunObserverTest, AWholeEraseIsHeardStepByStepWithTheBytesExchanged) {
  CreateObservedForm();
  Open();
  Receive("U-Boot 2024.01\r\n");
  backend.AdvanceBy(700);
  Receive("\nbox> ");
  backend.AdvanceBy(700);
  form->chkConf.UserToggle();
  form->cmdErase.UserClick();
  Receive(std::string(app::EraseScriptWithConfig) + "\r\nErased\r\nbox> ");
  const std::string answer =
      "crc32 a1b00000 500000\r\ncrc32 for a1b00000 ... a1ffffff ==> ac9c6488\r\nbox> ";
  Receive(answer);
  backend.AdvanceBy(1500);
  ASSERT_FALSE(fake.IsOpen());

  EXPECT_EQ(heard.Statuses(), status) << "the observer heard other texts than the status bar";
  std::vector<std::string> states;
  for (const auto& p : heard.progress) {
    if (states.empty() || states.back() != p.state) states.push_back(p.state);
  }
  EXPECT_EQ(states, (std::vector<std::string>{"PREPARED", "WORKING", "COMPLETE"}));
  using S = app::RunStep;
  EXPECT_EQ(heard.Steps(), (std::vector<S>{S::PortOpened, S::Waking, S::Ready, S::Erasing,
                                           S::Checking, S::Complete, S::PortClosed}));
  EXPECT_EQ(heard.sent, WrittenChunks());
  EXPECT_EQ(heard.sent, (std::vector<std::string>{"\n", std::string(app::EraseScriptWithConfig),
                                                  "\n", "crc32 a1b00000 500000", "\n"}));
  EXPECT_EQ(heard.received, "U-Boot 2024.01\r\n\nbox> " + std::string(app::EraseScriptWithConfig) +
                                "\r\nErased\r\nbox> " + answer);
  ASSERT_EQ(heard.verdicts.size(), 1u);
  EXPECT_EQ(heard.verdicts[0].result, app::EraseResult::Complete);
  EXPECT_EQ(heard.verdicts[0].erased, true);
  EXPECT_EQ(heard.verdicts[0].reply,
            std::string(app::EraseScriptWithConfig) + "\r\nErased\r\nbox> ");
}

// Text left unread while the erase is offered is dropped when the erase line goes out: it is
// not the Box's answer to it.
TEST_F(RunObserverTest, OnlyWhatTheReceiveHandlerScannedIsHeard) {
  CreateObservedForm();
  Open();
  Receive("\r\nbox> ");
  backend.AdvanceBy(700);
  Receive("late words");
  EXPECT_EQ(heard.received, "\r\nbox> ");
  form->cmdErase.UserClick();
  Receive("!");
  EXPECT_EQ(heard.received, "\r\nbox> !");
}

// A failed write of the erase line is not heard as sent, and the status set before it is.
TEST_F(RunObserverTest, AFailedEraseWriteIsNotHeardAsSent) {
  CreateObservedForm();
  Open();
  Receive("\r\nbox> ");
  backend.AdvanceBy(700);
  fake.FailAlways("WriteFile", 1167);
  form->cmdErase.UserClick();
  EXPECT_TRUE(heard.sent.empty()) << heard.sent.front();
  ASSERT_FALSE(heard.progress.empty());
  EXPECT_EQ(heard.progress.back().step, app::RunStep::Erasing);
  EXPECT_EQ(heard.progress.back().state, "PREPARED");
  EXPECT_NE(ErrorTexts(), "");
}

TEST(RunStepNames, EveryStepHasANameThatReadsBack) {
  using S = app::RunStep;
  std::set<std::string> names;
  for (S step : {S::Prepared, S::PortOpened, S::Waking, S::Ready, S::Erasing, S::Checking,
                 S::Complete, S::PortClosed}) {
    const std::string name = app::RunStepName(step);
    EXPECT_TRUE(names.insert(name).second) << "two steps are called " << name;
    S back = S::Prepared;
    ASSERT_TRUE(app::RunStepFromName(name, back)) << name;
    EXPECT_EQ(back, step) << name;
  }
  S unchanged = S::Waking;
  EXPECT_FALSE(app::RunStepFromName("Waking", unchanged));
  EXPECT_FALSE(app::RunStepFromName("", unchanged));
  EXPECT_EQ(unchanged, S::Waking);
}

}  // namespace
