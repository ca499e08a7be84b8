// The console prompt detector and the command lines, against a plain model of the prompt rule
// that keeps the whole line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/ConsoleLogic.h"
#include "app/ModuleState.h"
#include "gui/Forms.h"

namespace {

using app::AppendAndFindPrompt;
using app::ConsoleLineBuffer;

// The rule as written, with no memory bound: append, empty on a final line feed, then six or
// more characters ending in "x> " or "X> ".
struct UnboundedLine {
  std::string text;
  bool Scan(const std::string& chunk) {
    text += chunk;
    if (text.empty()) return false;
    if (text.back() == '\n') text.clear();
    if (text.size() <= 5) return false;
    const std::string end = text.substr(text.size() - 3);
    return end == "x> " || end == "X> ";
  }
};

std::string Printable(const std::vector<std::string>& chunks) {
  std::string out;
  for (const auto& c : chunks) {
    out += '[';
    for (char ch : c) {
      if (ch == '\n')
        out += "\\n";
      else if (ch == '\r')
        out += "\\r";
      else
        out += ch;
    }
    out += ']';
  }
  return out;
}

std::vector<bool> Decisions(const std::vector<std::string>& chunks) {
  ConsoleLineBuffer line;
  std::vector<bool> found;
  for (const auto& c : chunks) found.push_back(AppendAndFindPrompt(line, c));
  return found;
}

TEST(CommandLines, AreTheExactConsoleTextsWithoutTerminator) {
  EXPECT_EQ(app::EraseScriptWithConfig,
            "protect off a1b00000 a1ffffff;erase a1b00000 a1ffffff;protect on a1b00000 a1ffffff;"
            "vfd COMPLETE");
  EXPECT_EQ(app::EraseScriptUserOnly,
            "protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
            "vfd COMPLETE");
  EXPECT_EQ(app::EraseScriptWithConfig.size(), 95u);
  EXPECT_EQ(app::EraseScriptUserOnly.size(), 95u);
  for (auto line : {app::EraseScriptWithConfig, app::EraseScriptUserOnly}) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string_view::npos) << line;
  }
  EXPECT_EQ(app::WakeByte, 0x0A);
}

TEST(BytesToText, CopiesEveryByteAndIgnoresNonPositiveCounts) {
  const std::uint8_t abc[] = {0x61, 0x62, 0x63};
  EXPECT_EQ(app::BytesToText(abc, 3), "abc");
  EXPECT_EQ(app::BytesToText(abc, 0), "");
  EXPECT_EQ(app::BytesToText(abc, -1), "");
  const std::uint8_t raw[] = {0x00, 0xFF, 0x0D, 0x0A};
  EXPECT_EQ(app::BytesToText(raw, 4), std::string("\0\xFF\r\n", 4));
}

struct ScanCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<bool> expected;
};

TEST(PromptRule, EdgeCases) {
  const std::vector<ScanCase> cases = {
      {"five characters are too few", {"abx> "}, {false}},
      {"six characters are enough", {"abcx> "}, {true}},
      {"upper-case X", {"BOX X> "}, {true}},
      {"prompt split over two chunks", {"boot\nbox>", " "}, {false, true}},
      {"prompt then line feed empties the line", {"box> \n"}, {false}},
      {"line feed inside a chunk does not reset", {"ab\nx> "}, {true}},
      {"earlier text counts toward six", {"abc", "x> "}, {false, true}},
      {"final line feed resets the count", {"abc\n", "x> "}, {false, false}},
      {"two blanks", {"box>  "}, {false}},
      {"carriage return after the blank", {"box> \r"}, {false}},
      {"blank between x and >", {"box > "}, {false}},
      {"other letter", {"boot> "}, {false}},
      {"empty chunk on empty line", {""}, {false}},
      {"empty chunk after a prompt still sees it", {"abcx> ", ""}, {true, true}},
      {"lone line feed", {"\n"}, {false}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decisions(c.chunks), c.expected) << c.name << ": " << Printable(c.chunks);
  }
}

TEST(PromptRule, BoundedLineKeepsOnlyATailButCountsEverything) {
  ConsoleLineBuffer line;
  const std::string noise(1'000'000, 'a');
  for (int i = 0; i < 50; ++i) line.Append(noise);
  EXPECT_LE(line.Tail().size(), ConsoleLineBuffer::kKeptTail);
  EXPECT_EQ(line.Length(), 50'000'000u);
  EXPECT_TRUE(AppendAndFindPrompt(line, "x> "));
  EXPECT_EQ(line.Tail().substr(line.Tail().size() - 4), "ax> ");
}

// Random chunk sequences over the characters that matter: the bounded line decides exactly as
// the whole line would, chunk after chunk.
TEST(PromptRule, BoundedLineAgreesWithTheWholeLine) {
  std::mt19937 rng(20261207);
  const std::string alphabet = "xX> \n\rab";
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<std::string> chunks;
    const int count = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      std::string chunk;
      // Now and then a chunk longer than the kept tail.
      const std::size_t size = rng() % 10 == 0 ? 70 + rng() % 100 : rng() % 9;
      for (std::size_t k = 0; k < size; ++k) chunk += alphabet[rng() % alphabet.size()];
      if (rng() % 3 == 0) chunk += "x> ";
      chunks.push_back(chunk);
    }
    UnboundedLine model;
    ConsoleLineBuffer line;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      const bool expected = model.Scan(chunks[i]);
      ASSERT_EQ(AppendAndFindPrompt(line, chunks[i]), expected)
          << "chunk " << i << " of " << Printable(chunks);
      // What the waking scan does after a prompt.
      if (expected && rng() % 2 == 0) {
        model.text.clear();
        line.Clear();
      }
    }
  }
}

// Without line feeds the decision after a chunk depends only on the text received so far,
// however it was cut into chunks.
TEST(PromptRule, AnySplitOfATextGivesTheSameDecisions) {
  std::mt19937 rng(7);
  const std::string alphabet = "xX> ab";
  for (int trial = 0; trial < 2000; ++trial) {
    std::string text;
    const std::size_t size = rng() % 90;
    for (std::size_t k = 0; k < size; ++k) text += alphabet[rng() % alphabet.size()];
    std::vector<std::string> chunks;
    std::vector<bool> expected;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t n = 1 + rng() % 12;
      chunks.push_back(text.substr(at, n));
      at += n;
      ConsoleLineBuffer whole;
      expected.push_back(AppendAndFindPrompt(whole, text.substr(0, std::min(at, text.size()))));
    }
    EXPECT_EQ(Decisions(chunks), expected) << Printable(chunks);
  }
}

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() { app::ResetModuleState(); }
  ~ScanTest() override { app::ResetModuleState(); }
  app::ConsoleReply reply;
};

TEST_F(ScanTest, WakingScanEndsWakingAndEmptiesTheLineOnAPrompt) {
  app::WakingUp = 1;
  app::ScanWhileWaking("U-Boot 2.1\nbox");
  EXPECT_EQ(app::WakingUp, 1);
  EXPECT_EQ(app::ConsoleLine.Tail(), "U-Boot 2.1\nbox");
  app::ScanWhileWaking("> ");
  EXPECT_EQ(app::WakingUp, 0);
  EXPECT_TRUE(app::ConsoleLine.Empty());
}

TEST_F(ScanTest, ErasingScanEndsTheReplyAtAPromptAfterTheEchoAndKeepsTheLine) {
  app::Erasing = 1;
  EXPECT_FALSE(app::ScanWhileErasing("\nbox> ", reply)) << "a stale prompt before the echo";
  EXPECT_FALSE(app::ScanWhileErasing("erase a1c00000 a1ffffff;vfd COMPLETE\n", reply));
  EXPECT_TRUE(app::ScanWhileErasing("done\nbox> ", reply));
  EXPECT_FALSE(app::ScanWhileErasing("\nbox> ", reply)) << "a reply ends once";
  EXPECT_EQ(app::ConsoleLine.Tail(), "done\nbox> \nbox> ");
  EXPECT_EQ(app::Erasing, 1);
  EXPECT_EQ(app::WakingUp, 0);
}

// Text left by an erase stays for the next run, and both scans share it.
TEST_F(ScanTest, BothScansShareOneLine) {
  app::ScanWhileErasing("abc", reply);
  app::WakingUp = 1;
  app::ScanWhileWaking("x> ");
  EXPECT_EQ(app::WakingUp, 0);
}

}  // namespace
