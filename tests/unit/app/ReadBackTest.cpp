// Reading the erased range back: the CRC, the command, the answer's parser, how console lines
// are judged, where a reply ends, and the result decided from all of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ConsoleLogic.h"
#include "app/ConsoleReply.h"
#include "app/EraseVerdict.h"
#include "app/ReadBack.h"

namespace {

using app::Complaint;
using app::ConsoleReply;
using app::EraseResult;
using app::FlashRange;

constexpr FlashRange kUserData{0xa1c00000, 0xa1ffffff};

TEST(ReadBack, CrcIsTheIeeeOneAndErasedRangesAreComputedNotLooked) {
  const std::string check = "123456789";
  EXPECT_EQ(app::Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
            0xcbf43926u);
  EXPECT_EQ(app::Crc32OfErased(0x400000), 0x7d5b6975u);
  EXPECT_EQ(app::Crc32OfErased(0x500000), 0xac9c6488u);
  // Against the plain byte-wise CRC, across the powers of two it is composed of.
  for (std::uint64_t n : {0u, 1u, 2u, 3u, 255u, 4096u, 4097u, 65535u, 100000u}) {
    const std::vector<std::uint8_t> ff(n, 0xFF);
    EXPECT_EQ(app::Crc32OfErased(n), app::Crc32(ff.data(), ff.size())) << n << " bytes";
  }
}

TEST(ReadBack, TheCommandTakesTheRangeOfTheEraseLineAsStartAndPlainCount) {
  const auto user = app::EraseRangeOf(app::EraseScriptUserOnly);
  const auto config = app::EraseRangeOf(std::string(app::EraseScriptWithConfig) + "\n");
  ASSERT_TRUE(user && config);
  EXPECT_EQ(app::ReadBackCommand(*user), "crc32 a1c00000 400000");
  EXPECT_EQ(app::ReadBackCommand(*config), "crc32 a1b00000 500000");
  for (const char* none : {"", "erase", "erase a1c00000", "erase 2000 1000", "vfd x;erase 1 2 3"}) {
    EXPECT_FALSE(app::EraseRangeOf(none)) << "'" << none << "'";
  }
}

TEST(ReadBack, AnswerLines) {
  struct Case {
    const char* line;
    bool parsed;
    FlashRange range;
    std::uint32_t crc;
  };
  const Case cases[] = {
      {"crc32 for a1c00000 ... a1ffffff ==> 7d5b6975", true, kUserData, 0x7d5b6975},
      {"CRC32 for A1C00000 ... A1FFFFFF ==> 7D5B6975", true, kUserData, 0x7d5b6975},
      {"\x1b[0m##crc32 for 0xa1c00000 ... 0xa1ffffff ==> 7d5b6975  ", true, kUserData, 0x7d5b6975},
      {"crc32 for a1c00000 ... a1fffffe ==> 12345678", true, {0xa1c00000, 0xa1fffffe}, 0x12345678},
      {"crc32 for a1c00000 ... a1ffffff \x1b[5m\xfe\x07~ ==> 7d5b6975", true, kUserData,
       0x7d5b6975},
      {"crc32 for a1c00000 ...a1ffffff ==> 7d5b6975", false, {}, 0},
      {"crc32 for a1c00000 ... a1ffffff ==> 7d5b697", false, {}, 0},
      {"crc32 for a1c00000 ... a1ffffff ==> 7d5b6975x", false, {}, 0},
      {"crc32 for a1c00000 .. a1ffffff ==> 7d5b6975", false, {}, 0},
      {"crc32 for a1ffffff ==> 7d5b6975", false, {}, 0},
      {"==> 7d5b6975", false, {}, 0},
      {"Erased 64 sectors", false, {}, 0},
  };
  for (const Case& c : cases) {
    const auto answer = app::ParseCrcAnswer(c.line);
    ASSERT_EQ(answer.has_value(), c.parsed) << c.line;
    if (!answer) continue;
    EXPECT_EQ(answer->range, c.range) << c.line;
    EXPECT_EQ(answer->crc, c.crc) << c.line;
  }
}

TEST(ReadBack, ConsoleLinesThatComplain) {
  const std::pair<const char*, Complaint> cases[] = {
      {"Error: a1c00000..a1ffffff is not inside the flash (a1000000..a17fffff)",
       Complaint::Failure},
      {"Error: start address not on sector boundary", Complaint::Failure},
      {"- Warning: 32 protected sectors will not be erased!", Complaint::Failure},
      {"Error: sector 192 at a1c00000 is protected, nothing erased", Complaint::Failure},
      {"Usage: erase START END", Complaint::Failure},
      {"Unknown command 'erase' - try 'help'", Complaint::Failure},
      {"Bad address format", Complaint::Failure},
      {"Can't erase: flash is write protected", Complaint::Failure},
      {"....\rFlash erase timeout", Complaint::Failure},
      {"Unknown command 'vfd' - try 'help'", Complaint::Warning},
      {"Usage: vfd TEXT", Complaint::Warning},
      {"Un-Protected 32 sectors", Complaint::None},
      {"Protected 32 sectors", Complaint::None},
      {"Erasing 64 sectors from a1c00000 to a1ffffff ..... done", Complaint::None},
      {"Erased 32 sectors", Complaint::None},
      {"VFD: COMPLETE", Complaint::None},
      {"protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
       "vfd COMPLETE",
       Complaint::None},
  };
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(app::ClassifyConsoleLine(line), expected) << line;
  }
}

TEST(ReadBack, ShownTextEscapesWhatATerminalOrWindowWouldActOn) {
  EXPECT_EQ(app::ShownText("Error: \x1b[2Jgone\r\x07\xff"), "Error: \\x1b[2Jgone\\x0d\\x07\\xff");
  EXPECT_EQ(app::ShownText(std::string(200, 'a'), 10), "aaaaaaaaaa...");
}

// Feeds a reply the way the window does: each chunk into the console line and the reply.
bool FeedAll(ConsoleReply& reply, const std::vector<std::string>& chunks) {
  bool ended = false;
  for (const std::string& chunk : chunks) ended = app::ScanWhileErasing(chunk, reply) || ended;
  return ended;
}

TEST(ReadBack, AReplyEndsOnlyAtAPromptAfterTheConsolesOwnWords) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool ends;
    std::string prompt = "simbox> ";
  };
  const std::string echo = std::string(app::EraseScriptUserOnly);
  const Case cases[] = {
      {"stale prompts only", {"\nsimbox> ", "\nsimbox> \nsim", "box> "}, false},
      {"stale prompts, then echo and work",
       {"\nsimbox> \nsimbox> ", echo + "\n", "Erased 64 sectors\nsimbox> "},
       true},
      {"echo after a stale prompt on its line", {"simbox> " + echo + "\r\n", "simbox> "}, true},
      {"no echo: the console's first words", {"Un-Protected 64 sectors\r\n", "SIMBOX> "}, true},
      {"blank lines with carriage returns", {"\r\n \r\n\t\r\n", "simbox> "}, false},
      {"prompt with a carriage return is still a prompt line", {"simbox> \r\n", "simbox> "}, false},
      {"prompt line with more carriage returns than the kept tail, prompt unknown",
       {"simbox> " + std::string(20, '\r') + "\n", "simbox> "},
       false,
       ""},
      // The beginning of a stale prompt went with the dropped input; its rest is no answer.
      {"the rest of a stale prompt", {"> \nsimbox> \nsimbox> "}, false},
      {"the rest of a stale prompt, prompt unknown", {"> \nsimbox> "}, true, ""},
  };
  for (const Case& c : cases) {
    ConsoleReply reply;
    reply.Start(c.prompt);
    EXPECT_EQ(FeedAll(reply, c.chunks), c.ends) << c.name;
  }
  // Byte by byte, the answer is found as in one piece.
  ConsoleReply reply;
  const std::string answer =
      "crc32 a1c00000 400000\r\ncrc32 for a1c00000 ... a1ffffff ==> 7D5B6975\r\nsimbox> ";
  std::vector<std::string> bytes;
  for (char c : answer) bytes.emplace_back(1, c);
  EXPECT_TRUE(FeedAll(reply, bytes));
  ASSERT_TRUE(reply.Answer());
  EXPECT_EQ(reply.Answer()->crc, 0x7d5b6975u);
  EXPECT_EQ(reply.AnswerLine(), "crc32 for a1c00000 ... a1ffffff ==> 7D5B6975");
}

TEST(ReadBack, AReplyKeepsBoundedTextAndComplaints) {
  ConsoleReply reply;
  for (int i = 0; i < 200; ++i) reply.Feed("Error: sector " + std::to_string(i) + "\n", false);
  reply.Feed(std::string(20000, 'x'), false);
  EXPECT_EQ(reply.Failures().size(), ConsoleReply::kComplaintLimit);
  EXPECT_EQ(reply.Failures().front(), "Error: sector 0");
  EXPECT_EQ(reply.Text().size(), ConsoleReply::kTextLimit);
  EXPECT_TRUE(reply.TextCut());
}

// The result from the erase line's reply and the read-back's.
TEST(ReadBack, Verdicts) {
  const std::string command = "crc32 a1c00000 400000";
  const std::string prompt = "\nsimbox> ";
  const std::string good = "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975";
  struct Case {
    const char* name;
    std::string erase;
    bool readBackOn;
    std::optional<std::string> readBack;  // empty: the command never went out
    bool readBackEnded;
    EraseResult result;
    std::string reason;
    std::size_t warnings;
  };
  const std::string ok = "Erased 64 sectors\n";
  const std::string noVfd = "Unknown command 'vfd' - try 'help'\n";
  const std::string protectedWarning = "- Warning: 64 protected sectors will not be erased!\n";
  const Case cases[] = {
      {"read back erased", ok, true, good, true, EraseResult::Complete, "", 0},
      {"read back erased, no display", ok + noVfd, true, good, true, EraseResult::Complete, "", 1},
      {"read back erased though the console complained", protectedWarning, true, good, true,
       EraseResult::Complete, "", 1},
      {"the success text, not erased", ok, true, "crc32 for a1c00000 ... a1ffffff ==> 0badf00d",
       true, EraseResult::Failed,
       "the range does not read back erased: crc32 0badf00d, expected 7d5b6975", 0},
      {"protected sectors, not erased", protectedWarning + ok, true,
       "crc32 for a1c00000 ... a1ffffff ==> 0badf00d", true, EraseResult::Failed,
       "- Warning: 64 protected sectors will not be erased!", 0},
      {"no crc32", ok, true, "Unknown command 'crc32' - try 'help'", true, EraseResult::Unverified,
       "the console cannot read back: Unknown command 'crc32' - try 'help'", 0},
      {"no crc32, erase refused", "Error: start address not on sector boundary\n", true,
       "Unknown command 'crc32' - try 'help'", true, EraseResult::Failed,
       "Error: start address not on sector boundary", 0},
      {"silent", ok, true, std::string(), true, EraseResult::Unverified,
       "the console gave no answer to \"crc32 a1c00000 400000\"", 0},
      {"no prompt in time", ok, true, good, false, EraseResult::Unverified,
       "no answer to \"crc32 a1c00000 400000\" within 30 s", 0},
      {"another range", ok, true, "crc32 for a1c00000 ... a1fffffe ==> 7d5b6975", true,
       EraseResult::Unverified, "the console read back a1c00000..a1fffffe, not a1c00000..a1ffffff",
       0},
      {"read-back off", ok + noVfd, false, std::nullopt, false, EraseResult::Complete, "", 1},
      {"read-back off, refused", "Error: a1c00000..a1ffffff is not inside the flash\n", false,
       std::nullopt, false, EraseResult::Failed,
       "Error: a1c00000..a1ffffff is not inside the flash", 0},
  };
  for (const Case& c : cases) {
    ConsoleReply erase;
    FeedAll(erase, {std::string(app::EraseScriptUserOnly) + "\n" + c.erase + prompt});
    ConsoleReply readBack;
    if (c.readBack) {
      readBack.Feed(command + "\n" + *c.readBack + "\n", false);
      readBack.Feed("simbox> ", c.readBackEnded);
    }
    const app::EraseVerdict v = app::DecideVerdict(kUserData, erase, c.readBackOn, command,
                                                   c.readBack ? &readBack : nullptr);
    EXPECT_EQ(v.result, c.result) << c.name;
    EXPECT_EQ(v.reason, c.reason) << c.name;
    EXPECT_EQ(v.warnings.size(), c.warnings) << c.name;
    EXPECT_EQ(v.crcExpected, 0x7d5b6975u) << c.name;
    const bool answered =
        c.readBack && c.readBackEnded && c.readBack->find("==>") != std::string::npos;
    EXPECT_EQ(v.crcRead.has_value(), answered) << c.name;
  }
}

}  // namespace
