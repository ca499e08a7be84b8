// The simulator's logic without a pty or a clock of its own: the Box's boot and console, the
// console commands on the flash, output pacing and the settings file edit.
#include <gtest/gtest.h>

#include <set>

#include "tools/boxsim/Box.h"
#include "tools/boxsim/Crc32.h"
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

// The tool's erase line for the user data, byte for byte.
constexpr const char* kEraseUserData =
    "protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
    "vfd COMPLETE\n";

// The console's whole answer to that line when `skipped` sectors stay protected.
std::string EraseAnswer(int skipped) {
  std::string warning;
  if (skipped > 0)
    warning = "- Warning: " + std::to_string(skipped) + " protected sectors will not be erased!\n";
  return std::string(kEraseUserData) + "Un-Protected 64 sectors\n" + warning +
         "Erasing 64 sectors from a1c00000 to a1ffffff " + std::string(64 - skipped, '.') +
         " done\nErased 64 sectors\nProtected 64 sectors\nVFD: COMPLETE\nsimbox> ";
}

// At its prompt, on the last 8 MiB of the usual flash: both erase ranges, half the set-up.
class BoxsimReadBack : public BoxLogic {
 protected:
  BoxsimReadBack() { options_ = Defaults(); }
  static Options Defaults() {
    Options o;
    o.geometry.base = 0xa1800000;
    o.geometry.size = 8u << 20;
    o.atConsole = true;
    o.sectorMs = 0;
    o.crcMsPerMiB = 0;
    return o;
  }
  void Start() {
    Make();
    box_->PowerOn(now_);
    sent_.clear();
  }
};

TEST(BoxsimCrc32, KnownSumsWholeAndInPieces) {
  const struct {
    std::string data;
    std::uint32_t sum;
  } cases[] = {
      {"", 0},
      {"123456789", 0xcbf43926u},
      {std::string(0x400000, '\xff'), 0x7d5b6975u},
      {std::string(0x500000, '\xff'), 0xac9c6488u},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.data.data());
    Crc32 whole;
    whole.Update(bytes, c.data.size());
    EXPECT_EQ(whole.Value(), c.sum) << c.data.size() << " bytes";
    Crc32 pieces;
    for (std::size_t at = 0; at < c.data.size(); at += 7)
      pieces.Update(bytes + at, std::min<std::size_t>(7, c.data.size() - at));
    EXPECT_EQ(pieces.Value(), c.sum) << c.data.size() << " bytes in pieces";
  }
}

TEST_F(BoxsimReadBack, Crc32AnswersInTheConsolesFormat) {
  using Setup = void (*)(Options&);
  const Setup none = nullptr;
  const struct {
    const char* name;
    Setup setup;
    const char* before;  // typed and forgotten first
    std::string typed, answer;
  } cases[] = {
      {"user data erased", none, kEraseUserData, "crc32 a1c00000 400000\n",
       "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975\nsimbox> "},
      {"with configuration, 0x prefixes", none,
       "protect off a1b00000 a1ffffff;erase a1b00000 a1ffffff\n", "crc32 0xa1b00000 0x500000\n",
       "crc32 for a1b00000 ... a1ffffff ==> ac9c6488\nsimbox> "},
      {"fresh pattern, unaligned, over several reads", none, "", "crc32 a1801234 12345\n",
       "crc32 for a1801234 ... a1813578 ==> 2a7c83b0\nsimbox> "},
      {"upper-case hex", [](Options& o) { o.upperHex = true; }, kEraseUserData,
       "crc32 a1c00000 400000\n", "crc32 for A1C00000 ... A1FFFFFF ==> 7D5B6975\nsimbox> "},
      {"CR LF", [](Options& o) { o.crlf = true; }, kEraseUserData, "crc32 a1c00000 400000\r\n",
       "crc32 for a1c00000 ... a1ffffff ==> 7d5b6975\r\nsimbox> "},
      {"wrong range", [](Options& o) { o.crc32Fault = Crc32Fault::WrongRange; }, kEraseUserData,
       "crc32 a1c00000 400000\n", "crc32 for a1c10000 ... a200ffff ==> 7d5b6975\nsimbox> "},
      {"line noise", [](Options& o) { o.crc32Fault = Crc32Fault::Garbage; }, kEraseUserData,
       "crc32 a1c00000 400000\n",
       "crc32 for a1c00000 ... a1ffffff \x1b[5m\xfe\x07~ ==> 7d5b6975\nsimbox> "},
      {"no crc32", [](Options& o) { o.crc32Fault = Crc32Fault::Missing; }, "",
       "crc32 a1c00000 400000\n", "Unknown command 'crc32' - try 'help'\nsimbox> "},
      {"one word short", none, "", "crc32 a1c00000\n", "Usage: crc32 START COUNT\nsimbox> "},
      {"not hexadecimal", none, "", "crc32 a1c00000 4g0000\n",
       "Error: START and COUNT are hexadecimal numbers\nsimbox> "},
      {"nothing to read", none, "", "crc32 a1c00000 0\n",
       "Error: COUNT must be at least 1\nsimbox> "},
      {"past the end", none, "", "crc32 a1c00000 400001\n",
       "Error: a1c00000..a2000000 is not inside the flash (a1800000..a1ffffff)\nsimbox> "},
      {"before the start", none, "", "crc32 a17fffff 2\n",
       "Error: a17fffff..a1800000 is not inside the flash (a1800000..a1ffffff)\nsimbox> "},
      {"wrapping round to inside", none, "", "crc32 a1c00000 ffffffff\n",
       "Error: a1c00000..1a1bffffe is not inside the flash (a1800000..a1ffffff)\nsimbox> "},
  };
  for (const auto& c : cases) {
    options_ = Defaults();
    if (c.setup) c.setup(options_);
    Start();
    Type(c.before);
    sent_.clear();
    Type(c.typed);
    EXPECT_EQ(sent_, c.typed + c.answer) << c.name;  // with CR LF the echo is the typed line
  }
}

// What each fault of the chip does to the tool's erase line: the console's words, the flash,
// and whether crc32 then reads the range back erased.
TEST_F(BoxsimReadBack, ChipFaultsShowInTheFlashNotInTheWords) {
  const struct {
    const char* name;
    void (*setup)(Options&);
    std::string answer;
    std::uint32_t erasedFirst, erasedEnd;  // the bytes left 0xff: [first, end)
    bool readsBackErased;
  } cases[] = {
      {"sound chip", [](Options&) {}, EraseAnswer(0), 0xa1c00000, 0xa2000000, true},
      {"write-protected", [](Options& o) { o.writeProtected = true; }, EraseAnswer(0), 0, 0, false},
      {"upper half stays protected",
       [](Options& o) {
         o.stuckProtect = true;
         o.stuckProtectFirst = 0xa1e00000;
         o.stuckProtectLast = 0xa1e00000 + 0x1fffff;
       },
       EraseAnswer(32), 0xa1c00000, 0xa1e00000, false},
      {"one byte stays programmed", [](Options& o) { o.stuckBytes = {0xa1d23456}; }, EraseAnswer(0),
       0xa1c00000, 0xa2000000, false},
  };
  for (const auto& c : cases) {
    options_ = Defaults();
    c.setup(options_);
    Start();
    Type(kEraseUserData);
    EXPECT_EQ(sent_, c.answer) << c.name;
    const FlashGeometry& g = options_.geometry;
    std::vector<std::uint8_t> image(g.size);
    ASSERT_EQ(flash_.Read(0, g.size, image.data()), "") << c.name;
    std::size_t wrong = 0;
    std::uint32_t first = 0;
    for (std::uint32_t i = 0; i < g.size; ++i) {
      std::uint32_t address = g.base + i;
      bool erased = address >= c.erasedFirst && address < c.erasedEnd &&
                    (options_.stuckBytes.empty() || address != options_.stuckBytes[0]);
      if (image[i] == (erased ? 0xFF : PatternByte(i))) continue;
      if (wrong++ == 0) first = address;
    }
    EXPECT_EQ(wrong, 0u) << c.name << ": first wrong byte at " << std::hex << first;
    sent_.clear();
    Type("crc32 a1c00000 400000\n");
    EXPECT_EQ(sent_.find("==> 7d5b6975") != std::string::npos, c.readsBackErased)
        << c.name << ": " << sent_;
  }
}

TEST_F(BoxsimReadBack, Crc32TakesItsTimeAndTypingWaitsForItsPrompt) {
  options_.crcMsPerMiB = 10;
  Start();
  Type("crc32 a1c00000 400000\n");
  ASSERT_EQ(box_->NextDeadline(), now_ + 40ms);
  Run(35ms);
  Type("vfd X\n");
  EXPECT_EQ(sent_, "crc32 a1c00000 400000\n");
  Run(10ms);
  EXPECT_EQ(sent_,
            "crc32 a1c00000 400000\ncrc32 for a1c00000 ... a1ffffff ==> 8b92bec0\nsimbox> "
            "vfd X\nVFD: X\nsimbox> ");
}

TEST_F(BoxsimReadBack, TypingWhileACommandRunsIsKeptUpToABufferFull) {
  options_.crcMsPerMiB = 10;
  Start();
  Type("crc32 a1c00000 400000\n");
  Type(std::string(10000, '\n'));
  Run(100ms);
  std::size_t prompts = 0;
  for (std::size_t at = 0; (at = sent_.find("simbox> ", at)) != std::string::npos; ++at) ++prompts;
  EXPECT_EQ(prompts, 1u + 4096u);  // the crc32's, then one a line feed kept
}

TEST_F(BoxsimReadBack, Crc32ThatHangsOrRebootsNeverAnswers) {
  // Hangs: nothing after the echo, whatever comes, until the power is cycled.
  options_.crc32Fault = Crc32Fault::Silent;
  Start();
  Type("crc32 a1c00000 400000;vfd X\n");
  Run(5s);
  Type("\n\nvfd Y\n");
  Run(1s);
  EXPECT_EQ(sent_, "crc32 a1c00000 400000;vfd X\n");
  EXPECT_FALSE(box_->NextDeadline().has_value());
  box_->PowerOff();
  box_->PowerOn(now_);
  EXPECT_EQ(sent_.substr(sent_.size() - 9), "\nsimbox> ");

  // Reboots: the boot text again, even for a Box that started at its prompt, and the rest of
  // the line lost.
  options_ = Defaults();
  options_.crc32Fault = Crc32Fault::Reboot;
  Start();
  Type("crc32 a1c00000 400000;vfd X\n");
  Run(100ms);
  EXPECT_EQ(sent_.rfind("crc32 a1c00000 400000;vfd X\n\nSimBox boot loader", 0), 0u) << sent_;
  EXPECT_EQ(sent_.find("==>"), std::string::npos) << sent_;
  EXPECT_EQ(sent_.find("VFD"), std::string::npos) << sent_;
  Type("\n");
  EXPECT_EQ(sent_.substr(sent_.size() - 9), "\nsimbox> ");
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
  EXPECT_EQ(r.options->crcMsPerMiB, 0);
  EXPECT_EQ(r.options->countdown, 3);
  EXPECT_EQ(r.options->prompt, "SIMBOX> ");
  EXPECT_TRUE(r.options->upperHex);
}

TEST(BoxsimOptions, FaultsReachTheOptionsAndCrc32FaultsComeOneAtATime) {
  const char* argv[] = {
      "boxsim",   "--stuck-protect", "a1e00000",   "0xa1ffffff",        "--stuck-byte",
      "a1d00000", "--stuck-byte",    "0xa1c00001", "--write-protected", "--crc32-garbage"};
  ParseResult r = ParseOptions(10, const_cast<char**>(argv));
  ASSERT_TRUE(r.options.has_value()) << r.message;
  EXPECT_TRUE(r.options->stuckProtect);
  EXPECT_EQ(r.options->stuckProtectFirst, 0xa1e00000u);
  EXPECT_EQ(r.options->stuckProtectLast, 0xa1ffffffu);
  EXPECT_EQ(r.options->stuckBytes, (std::vector<std::uint32_t>{0xa1d00000u, 0xa1c00001u}));
  EXPECT_TRUE(r.options->writeProtected);
  EXPECT_EQ(r.options->crc32Fault, Crc32Fault::Garbage);
  EXPECT_EQ(r.options->crcMsPerMiB, 5);

  const char* twice[] = {"boxsim", "--crc32-silent", "--no-crc32"};
  EXPECT_FALSE(ParseOptions(3, const_cast<char**>(twice)).options.has_value());
}

TEST(FlashTest, PatternNeverLooksErased) {
  for (std::uint32_t i = 0; i < (16u << 20); i += 7) ASSERT_NE(PatternByte(i), 0xFF) << i;
}

}  // namespace
}  // namespace boxsim
