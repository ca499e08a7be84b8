// zanowipe-cli against Boxes whose flash is not what their console says: the result, the exit
// status and the record come from reading the range back, and boxsim's own check of the image
// agrees with them.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/E2eHelpers.h"

namespace e2e {
namespace {

using nlohmann::json;

const std::string kCli = ZW_CLI_PATH;
constexpr auto kRunLimit = std::chrono::seconds(120);

json OnlyRecord(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  json j = json::parse(line, nullptr, false);
  EXPECT_TRUE(j.is_object()) << "not a record: " << line;
  std::string more;
  EXPECT_FALSE(std::getline(in, more)) << "a second record: " << more;
  return j;
}

struct Case {
  const char* name;
  std::vector<std::string> box;  // boxsim's options besides the flash
  std::vector<std::string> cli;  // zanowipe-cli's besides --port, --yes, --record
  int status;                    // exit status
  const char* result;            // the record's
  const char* message;           // in the last word of the run
  bool erased;                   // boxsim finds the user range erased
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ProvenErase : public ::testing::TestWithParam<Case> {};

TEST_P(ProvenErase, TheResultIsWhatTheFlashHolds) {
  const Case& c = GetParam();
  ScratchDir dir;
  std::vector<std::string> boxArgs = {"-v", "--power-on-delay", "300"};
  boxArgs.insert(boxArgs.end(), c.box.begin(), c.box.end());
  SimulatedBox box(dir, boxArgs);
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const std::string record = dir.File("r.jsonl");
  std::vector<std::string> args = {kCli,        "--port", box.Device(), "--yes",
                                   "--timeout", "90",     "--record",   record};
  args.insert(args.end(), c.cli.begin(), c.cli.end());
  Process cli(args, dir.Path());
  const auto e = cli.Wait(kRunLimit);
  ASSERT_TRUE(e.has_value()) << cli.Stdout() << cli.Stderr();
  EXPECT_EQ(e->status, c.status) << cli.Stdout() << cli.Stderr();
  EXPECT_NE((cli.Stdout() + cli.Stderr()).find(c.message), std::string::npos)
      << cli.Stdout() << cli.Stderr();

  const json r = OnlyRecord(record);
  EXPECT_EQ(r.value("result", ""), c.result) << r.dump();
  EXPECT_EQ(r.value("status", -1), c.status) << r.dump();
  const json& readBack = r["readback"];
  const bool verified =
      c.status == 0 && std::string(c.result) == "COMPLETE" && readBack.value("enabled", false);
  EXPECT_EQ(readBack["erased"] == json(true), verified) << r.dump();
  if (verified) {
    EXPECT_EQ(readBack["crc_read"], "7d5b6975") << r.dump();
  }
  // The reply holds the console's echo of the erase line: a stale prompt did not end it.
  EXPECT_NE(r.value("reply", "").find("protect off a1c00000 a1ffffff;erase"), std::string::npos)
      << r.dump();

  box.Stop();
  // On FAILED the tool told the display so.
  EXPECT_EQ(box.Proc().Stderr().find("display shows \"ERASE FAILED\"") != std::string::npos,
            c.status == 5)
      << box.Proc().Stderr();
  const VerifyOutcome v = VerifyFlash(dir, box.Image(), "a1c00000", "a1ffffff");
  EXPECT_EQ(v.status == 0, c.erased) << v.text;
}

const Case kCases[] = {
    {"Erased",
     {"--fast"},
     {},
     0,
     "COMPLETE",
     "Result: COMPLETE (the range read back erased: crc32 7d5b6975)",
     true},
    {"ErasedCrLfUpperCaseInPieces",
     {"--fast", "--crlf", "--upper-x", "--chunk-random"},
     {},
     0,
     "COMPLETE",
     "Result: COMPLETE",
     true},
    {"ErasedNoiseBeforeTheArrow",
     {"--fast", "--crc32-garbage"},
     {},
     0,
     "COMPLETE",
     "Result: COMPLETE",
     true},
    {"WriteProtectedChip",
     {"--fast", "--write-protected"},
     {},
     5,
     "FAILED",
     "Result: FAILED: the range does not read back erased: crc32 ",
     false},
    {"SectorsStayProtected",
     {"--fast", "--stuck-protect", "a1e00000", "a1ffffff"},
     {},
     5,
     "FAILED",
     "Result: FAILED: - Warning: 32 protected sectors will not be erased!",
     false},
    {"OneByteStaysProgrammed",
     {"--fast", "--stuck-byte", "a1d00000"},
     {},
     5,
     "FAILED",
     ", expected 7d5b6975",
     false},
    {"RangeOutsideTheFlash",
     {"--fast", "--flash-size", "8M"},
     {},
     5,
     "FAILED",
     "Result: FAILED: Error: a1c00000..a1ffffff is not inside the flash",
     false},
    {"NoCrc32",
     {"--fast", "--no-crc32"},
     {},
     6,
     "UNVERIFIED",
     "Result: UNVERIFIED: the console cannot read back: Unknown command 'crc32'",
     true},
    {"AnswerForAnotherRange",
     {"--fast", "--crc32-wrong-range"},
     {},
     6,
     "UNVERIFIED",
     "Result: UNVERIFIED: the console read back a1c10000..a200ffff, not a1c00000..a1ffffff",
     true},
    {"ReadBackSwitchedOff",
     {"--fast", "--no-crc32"},
     {"--no-readback"},
     0,
     "COMPLETE",
     "Result: COMPLETE (not verified: the read-back is switched off)",
     true},
    {"ReadBackSwitchedOffButRefused",
     {"--fast", "--flash-size", "8M"},
     {"--no-readback"},
     5,
     "FAILED",
     "Result: FAILED: Error: a1c00000..a1ffffff is not inside the flash",
     false},
    // The adapter pulled in the completion wait: the erase was proven before.
    {"PortLostAfterTheReadBack",
     {"--fast", "--hangup-at", "readback"},
     {},
     0,
     "COMPLETE",
     "(then the port failed: ",
     true},
    // Prompts earned by wake-up line feeds that crossed the slow line must not end the erase:
    // taken for its end, they closed the port (switching the Box off) half way through.
    {"SlowLineStalePrompts",
     {"--baud", "600", "--sector-ms", "100", "--boot-ms", "0"},
     {},
     0,
     "COMPLETE",
     "Result: COMPLETE",
     true},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProvenErase, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C while the console reads the range back (one that never answers): the run ends at once
// with the port closed, and the record says the erase was not proven.
TEST(ProvenEraseInterrupted, CtrlCDuringTheReadBack) {
  ScratchDir dir;
  SimulatedBox box(dir, {"--fast", "--crc32-silent", "--power-on-delay", "300"});
  ASSERT_FALSE(box.Device().empty()) << box.Proc().Stderr();
  const std::string record = dir.File("r.jsonl");
  Process cli({kCli, "--port", box.Device(), "--yes", "--record", record}, dir.Path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (cli.Stdout().find("Checking the erased range") == std::string::npos) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Stdout() << cli.Stderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  cli.Signal(SIGINT);
  const auto e = cli.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(e.has_value()) << "zanowipe-cli did not end at SIGINT";
  EXPECT_EQ(e->status, 130) << cli.Stdout() << cli.Stderr();
  const json r = OnlyRecord(record);
  EXPECT_EQ(r.value("result", ""), "FAILED") << r.dump();
  EXPECT_EQ(r.value("message", ""), "interrupted while the erased range was read back") << r.dump();
  EXPECT_EQ(r["readback"].value("command", ""), "crc32 a1c00000 400000") << r.dump();
  EXPECT_TRUE(r["readback"]["erased"].is_null()) << r.dump();
}

}  // namespace
}  // namespace e2e
