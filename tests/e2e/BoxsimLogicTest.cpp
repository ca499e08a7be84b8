// The simulator's logic without a pty or a clock of its own: the Box's boot and console, the
// console commands on the flash, output pacing and the settings file edit.
#include <gtest/gtest.h>

#include <set>

#include "tools/boxsim/Box.h"
#include "tools/boxsim/OutputPacer.h"
#include "tools/boxsim/PortsIni.h"

namespace boxsim {
namespace {

using namespace std::chrono_literals;

class BoxLogic : public ::testing::Test {
 protected:
  void Make() {
    ASSERT_EQ(flash_.Open("", options_.geometry), "");
    box_ = std::make_unique<Box>(
        options_, flash_, [this](const std::string& t) { sent_ += t; }, [](const std::string&) {});
  }
  // Moves time on in small steps, as the simulator's loop would.
  void Run(Clock::duration d) {
    Clock::time_point end = now_ + d;
    while (now_ < end) {
      box_->Advance(now_);
      now_ += 5ms;
    }
    box_->Advance(now_);
  }
  void Type(const std::string& text) { box_->Input(text.data(), text.size(), now_); }

  Options options_;
  Flash flash_;
  std::unique_ptr<Box> box_;
  std::string sent_;
  Clock::time_point now_{};
};

TEST_F(BoxLogic, LineFeedDuringBootGivesThePromptWithoutLineFeedAfterIt) {
  Make();
  box_->PowerOn(now_);
  Run(300ms);
  EXPECT_EQ(sent_.rfind("\nSimBox boot loader", 0), 0u) << sent_;
  Type("\n");
  ASSERT_GE(sent_.size(), 9u);
  EXPECT_EQ(sent_.substr(sent_.size() - 9), "\nsimbox> ");
  Run(10s);  // the countdown no longer runs
  EXPECT_EQ(sent_.find("Starting kernel"), std::string::npos) << sent_;
}

TEST_F(BoxLogic, UninterruptedBootHandsTheLineToTheSystemForGood) {
  options_.bootMs = 0;
  Make();
  box_->PowerOn(now_);
  Run(5s);
  EXPECT_NE(sent_.find("Starting kernel"), std::string::npos) << sent_;
  std::size_t before = sent_.size();
  Type("\n\n");
  Run(2s);
  EXPECT_EQ(sent_.size(), before) << sent_.substr(before);
  EXPECT_FALSE(box_->NextDeadline().has_value());
}

TEST_F(BoxLogic, CarriageReturnsBecomeCrLfAndAreIgnoredBeforeLineFeed) {
  options_.crlf = true;
  options_.atConsole = true;
  Make();
  box_->PowerOn(now_);
  sent_.clear();
  Type("vfd HI\r\n");
  EXPECT_EQ(sent_, "vfd HI\r\nVFD: HI\r\nsimbox> ");
  EXPECT_EQ(flash_.Display(), "HI");
}

TEST_F(BoxLogic, TypingDuringAnEraseWaitsForThePrompt) {
  options_.atConsole = true;
  options_.sectorMs = 10;
  Make();
  box_->PowerOn(now_);
  sent_.clear();
  Type("protect off a1000000 a103ffff;erase a1000000 a103ffff\n");
  Type("vfd X\n");
  EXPECT_EQ(sent_.find("VFD"), std::string::npos);
  Run(200ms);
  EXPECT_NE(sent_.find("Erased 4 sectors\nsimbox> vfd X\nVFD: X\nsimbox> "), std::string::npos)
      << sent_;
}

TEST_F(BoxLogic, EraseRefusesProtectedAndMisalignedRanges) {
  options_.atConsole = true;
  options_.sectorMs = 0;
  Make();
  box_->PowerOn(now_);
  sent_.clear();
  Type("erase a1000000 a100ffff\n");
  EXPECT_NE(sent_.find("is protected, nothing erased"), std::string::npos) << sent_;
  Type("protect off a1000000 a100ffff\n");
  Type("erase a1000001 a100ffff\n");
  EXPECT_NE(sent_.find("not at the start of a sector"), std::string::npos) << sent_;
  Type("erase a1000000 a100fffe\n");
  EXPECT_NE(sent_.find("not at the end of a sector"), std::string::npos) << sent_;
  Type("erase a0ff0000 a100ffff\n");
  EXPECT_NE(sent_.find("is not inside the flash"), std::string::npos) << sent_;
  Type("erase zz a100ffff\n");
  EXPECT_NE(sent_.find("hexadecimal"), std::string::npos) << sent_;
  Type("erase a1000000\n");
  EXPECT_NE(sent_.find("Usage: erase"), std::string::npos) << sent_;
  Type("   \n");
  EXPECT_EQ(sent_.substr(sent_.size() - 12), "   \nsimbox> ") << sent_;
}

TEST_F(BoxLogic, HangUpStagesStopTheBoxWhereAsked) {
  options_.hangupAt = HangupStage::Erase;
  options_.atConsole = true;
  options_.sectorMs = 0;
  Make();
  box_->PowerOn(now_);
  Type("protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;vfd NO\n");
  Run(100ms);
  EXPECT_TRUE(box_->HangupDue());
  // Half of the 64 sectors, not one more.
  std::size_t dots = 0;
  for (char c : sent_) dots += c == '.' ? 1 : 0;
  EXPECT_EQ(dots, 32u) << sent_;
  EXPECT_EQ(sent_.find("VFD"), std::string::npos);
}

TEST_F(BoxLogic, WakeStageHangsUpInsteadOfPrompting) {
  options_.hangupAt = HangupStage::Wake;
  Make();
  box_->PowerOn(now_);
  Run(100ms);
  EXPECT_FALSE(box_->HangupDue());
  Type("\n");
  EXPECT_TRUE(box_->HangupDue());
  EXPECT_EQ(sent_.find("simbox> "), std::string::npos);
}

TEST_F(BoxLogic, BootStageHangsUpAfterTheFirstBootLine) {
  options_.hangupAt = HangupStage::Boot;
  Make();
  box_->PowerOn(now_);
  Run(5s);
  EXPECT_TRUE(box_->HangupDue());
  EXPECT_EQ(sent_, "\nSimBox boot loader 2026.03 (simulated)\n");
}

TEST(OutputPacerTest, RandomChunksKeepEveryByteInOrderAndSplitEverywhere) {
  OutputPacer pacer(0, true, 3);
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\nsimbox> ";
  Clock::time_point now{};
  pacer.Append(text, now);
  std::string out;
  std::set<std::size_t> sizes;
  while (!pacer.Empty()) {
    std::size_t n = pacer.Due(now);
    if (n == 0) {
      ASSERT_TRUE(pacer.NextDeadline(now).has_value());
      ASSERT_GT(*pacer.NextDeadline(now), now);
      now = *pacer.NextDeadline(now);
      continue;
    }
    ASSERT_LE(n, 24u);
    sizes.insert(n);
    out.append(pacer.Data(), n);
    pacer.Consumed(n, now);
  }
  EXPECT_EQ(out, text);
  EXPECT_GT(sizes.size(), 10u) << "chunk sizes hardly vary";
}

TEST(OutputPacerTest, BaudRateSpacesTheBytes) {
  OutputPacer pacer(9600, false, 1);  // 960 bytes a second
  Clock::time_point start{};
  pacer.Append(std::string(96, 'x'), start);
  EXPECT_EQ(pacer.Due(start), 0u);
  EXPECT_EQ(pacer.Due(start + 50ms), 48u);
  pacer.Consumed(48, start + 50ms);
  EXPECT_EQ(pacer.Due(start + 100ms), 48u);
}

TEST(PortsIniTest, SetsTheEntryAndKeepsEverythingElse) {
  EXPECT_EQ(WithPortEntry("", 1, "/dev/pts/3"), "[PORTS]\nCOM1=/dev/pts/3\n");
  EXPECT_EQ(WithPortEntry("[APP]\nTOP=1\n", 2, "/dev/pts/3"),
            "[APP]\nTOP=1\n\n[PORTS]\nCOM2=/dev/pts/3\n");
  EXPECT_EQ(WithPortEntry("[ports]\ncom1 = /dev/ttyUSB0\nCOM2=x\n[APP]\nTOP=1\n", 1, "/dev/pts/4"),
            "[ports]\nCOM1=/dev/pts/4\nCOM2=x\n[APP]\nTOP=1\n");
  EXPECT_EQ(WithPortEntry("[PORTS]\nCOM2=x\n\n[APP]\nTOP=1\n", 5, "/d"),
            "[PORTS]\nCOM2=x\nCOM5=/d\n\n[APP]\nTOP=1\n");
  EXPECT_EQ(WithPortEntry("[APP]\r\nTOP=1\r\n", 1, "/d"),
            "[APP]\r\nTOP=1\r\n\r\n[PORTS]\r\nCOM1=/d\r\n");
}

TEST(OptionsTest, FastZeroesTheDelaysButKeepsTheCountdown) {
  const char* argv[] = {"boxsim", "--fast", "--upper-x"};
  ParseResult r = ParseOptions(3, const_cast<char**>(argv));
  ASSERT_TRUE(r.options.has_value()) << r.message;
  EXPECT_EQ(r.options->sectorMs, 0);
  EXPECT_EQ(r.options->bootMs, 0);
  EXPECT_EQ(r.options->countdown, 3);
  EXPECT_EQ(r.options->prompt, "SIMBOX> ");
}

TEST(FlashTest, PatternNeverLooksErased) {
  for (std::uint32_t i = 0; i < (16u << 20); i += 7) ASSERT_NE(PatternByte(i), 0xFF) << i;
}

}  // namespace
}  // namespace boxsim
