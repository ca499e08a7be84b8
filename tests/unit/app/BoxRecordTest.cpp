// The erase record: one line of JSON that any tool reads back to the same facts, whatever bytes
// the Box sent, and the recorder that gathers it from a run as the window reports it.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "app/ConsoleLogic.h"
#include "app/cli/BoxRecord.h"
#include "app/cli/BoxRecorder.h"
#include "app/cli/CliOptions.h"

namespace {

using nlohmann::json;
using namespace std::chrono;

cli::BoxRecord::Time At(sys_days day, milliseconds since) {
  return cli::BoxRecord::Time(day) + since;
}

json Decoded(const std::string& line) {
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "a record must be one line:\n" << line;
  return json::parse(line);
}

// The Box's bytes as they come back from the record's UTF-8: one character a byte.
std::string Latin1Of(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F)));
    }
  }
  return bytes;
}

TEST(BoxRecord, EveryFieldReadsBackAndTheBoxsBytesSurviveWhole) {
  cli::BoxRecord r;
  r.start =
      At(sys_days{year{2024} / 2 / 29}, hours(23) + minutes(59) + seconds(59) + milliseconds(999));
  r.end = At(sys_days{year{2024} / 3 / 1}, milliseconds(7));
  r.host = "bench-3";
  r.port = "COM2";
  r.device = "/dev/ttyUSB1";
  r.withConfiguration = true;
  r.command = std::string(app::EraseScriptWithConfig) + "\n";
  std::string every;
  for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
  r.bootText = "SimBox 2.1\r\n\"quoted\" \\ " + every;
  r.reply = r.command + "Erased 80 sectors\r\nsimbox> ";
  r.status = cli::kExitComplete;
  r.message = "Result: COMPLETE";
  r.wakingSeconds = 1.40049;
  r.erasingSeconds = 3.0;
  app::EraseVerdict v;
  v.result = app::EraseResult::Complete;
  v.command = "crc32 a1b00000 500000";
  v.answer = "crc32 for a1b00000 ... a1ffffff ==> ac9c6488";
  v.crcRead = 0xac9c6488;
  v.erased = true;
  v.warnings = {"Unknown command 'vfd' \xe4"};
  r.verdict = v;

  const json j = Decoded(cli::EncodeRecord(r));
  EXPECT_EQ(j.at("start"), "2024-02-29T23:59:59.999Z");
  EXPECT_EQ(j.at("end"), "2024-03-01T00:00:00.007Z");
  EXPECT_EQ(j.at("host"), "bench-3");
  EXPECT_EQ(j.at("port"), "COM2");
  EXPECT_EQ(j.at("device"), "/dev/ttyUSB1");
  EXPECT_EQ(j.at("erase"), "user data and configuration");
  EXPECT_EQ(j.at("range").at("first"), "a1b00000");
  EXPECT_EQ(j.at("range").at("last"), "a1ffffff");
  EXPECT_EQ(j.at("command"), r.command);
  EXPECT_EQ(Latin1Of(j.at("boot_text")), r.bootText);
  EXPECT_EQ(Latin1Of(j.at("reply")), r.reply);
  EXPECT_EQ(j.at("boot_text_cut"), false);
  EXPECT_EQ(j.at("result"), "COMPLETE");
  EXPECT_EQ(j.at("status"), 0);
  EXPECT_EQ(j.at("message"), "Result: COMPLETE");
  EXPECT_TRUE(j.at("error").is_null());
  const json& readBack = j.at("readback");
  EXPECT_EQ(readBack.at("enabled"), true);
  EXPECT_EQ(readBack.at("command"), "crc32 a1b00000 500000");
  EXPECT_EQ(readBack.at("answer"), "crc32 for a1b00000 ... a1ffffff ==> ac9c6488");
  EXPECT_EQ(readBack.at("crc_read"), "ac9c6488");
  EXPECT_EQ(readBack.at("crc_expected"), "ac9c6488");
  EXPECT_EQ(readBack.at("erased"), true);
  EXPECT_EQ(j.at("console_failures"), json::array());
  EXPECT_EQ(Latin1Of(j.at("console_warnings").at(0)), "Unknown command 'vfd' \xe4");
  EXPECT_DOUBLE_EQ(j.at("waking_seconds").get<double>(), 1.4);
  EXPECT_DOUBLE_EQ(j.at("erasing_seconds").get<double>(), 3.0);
}

TEST(BoxRecord, AFailedBoxNamesItsErrorAndWhatItNeverReached) {
  cli::BoxRecord r;
  r.start = r.end = At(sys_days{year{1999} / 12 / 31}, hours(12));
  r.status = cli::kExitPortError;
  r.message = "failed while the erase ran";
  // An error text is not the Box's: it may name a path in any bytes, which must not break it.
  r.error = cli::BoxError{"Unable to get async status (win error code: 1167) \xff", 6, 1167};
  const json j = Decoded(cli::EncodeRecord(r));
  EXPECT_EQ(j.at("start"), "1999-12-31T12:00:00.000Z");
  EXPECT_EQ(j.at("result"), "FAILED");
  EXPECT_EQ(j.at("erase"), "user data");
  // Nothing was read back, and the record says so rather than leaving it out.
  EXPECT_EQ(j.at("readback").at("enabled"), true);
  EXPECT_TRUE(j.at("readback").at("command").is_null());
  EXPECT_TRUE(j.at("readback").at("erased").is_null());
  EXPECT_EQ(j.at("readback").at("crc_expected"), "7d5b6975");
  // The range is the one this erase was to take, though its line never went out.
  EXPECT_EQ(j.at("range").at("first"), "a1c00000");
  EXPECT_TRUE(j.at("command").is_null());
  EXPECT_EQ(j.at("error").at("code"), 6);
  EXPECT_EQ(j.at("error").at("system_code"), 1167);
  EXPECT_EQ(j.at("error").at("text").get<std::string>().rfind("Unable to get async status", 0), 0u);
  EXPECT_TRUE(j.at("waking_seconds").is_null());
  EXPECT_TRUE(j.at("erasing_seconds").is_null());

  r.error = cli::BoxError{"Unknown exception", std::nullopt, std::nullopt};
  const json unknown = Decoded(cli::EncodeRecord(r));
  EXPECT_TRUE(unknown.at("error").at("code").is_null());
  EXPECT_TRUE(unknown.at("error").at("system_code").is_null());
}

// Only a range that read back erased is COMPLETE; a run that ended before its result was known
// did not erase as far as anyone can tell.
TEST(BoxRecord, ResultNamesFollowTheExitStatus) {
  EXPECT_STREQ(cli::ResultName(cli::kExitComplete), "COMPLETE");
  EXPECT_STREQ(cli::ResultName(cli::kExitUnverified), "UNVERIFIED");
  for (int status : {cli::kExitFailed, cli::kExitTimeout, cli::kExitInterrupted,
                     cli::kExitPortError, cli::kExitUsage}) {
    EXPECT_STREQ(cli::ResultName(status), "FAILED") << status;
  }
}

TEST(BoxRecord, TheRangeIsReadFromTheEraseCommand) {
  using Range = std::pair<std::string, std::string>;
  EXPECT_EQ(cli::EraseRange(app::EraseScriptUserOnly), (Range{"a1c00000", "a1ffffff"}));
  EXPECT_EQ(cli::EraseRange(std::string(app::EraseScriptWithConfig) + "\n"),
            (Range{"a1b00000", "a1ffffff"}));
  EXPECT_EQ(cli::EraseRange("erase 1000 1fff"), (Range{"1000", "1fff"}));
  for (const char* none :
       {"", "protect off a1 a2;vfd COMPLETE", "erase", "erase a1c00000", "reerase 1 2", ";;;"}) {
    EXPECT_EQ(cli::EraseRange(none), Range{}) << "'" << none << "'";
  }
}

TEST(BoxRecord, TimesAreUtcWithMilliseconds) {
  EXPECT_EQ(cli::IsoUtc(cli::BoxRecord::Time{}), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(cli::IsoUtc(At(sys_days{year{2038} / 1 / 19}, hours(3) + minutes(14) + seconds(8))),
            "2038-01-19T03:14:08.000Z");
  // Below a millisecond is cut, never rounded up into the next second.
  EXPECT_EQ(cli::IsoUtc(At(sys_days{year{2025} / 6 / 30}, seconds(59)) + microseconds(999999)),
            "2025-06-30T00:00:59.999Z");
}

// The recorder, fed as the window feeds its observer.
class Recorder : public ::testing::Test {
 protected:
  cli::BoxRecorder recorder{"host", "COM1", "/dev/ttyUSB0", false};
  void Step(app::RunStep step) { recorder.Progressed({step, "", ""}); }
};

TEST_F(Recorder, BootTextEndsAtTheFirstLineFeedSentAndTheReplyAtTheReadBack) {
  Step(app::RunStep::PortOpened);
  EXPECT_FALSE(recorder.BoxSpoke());
  recorder.Received("Banner v1\r\n");
  recorder.Received("Hit Enter: 3");
  EXPECT_TRUE(recorder.BoxSpoke());
  recorder.Sent("\n");
  recorder.Received("\nsimbox> ");
  Step(app::RunStep::Ready);
  recorder.Sent(app::EraseScriptUserOnly);
  recorder.Sent("\n");
  recorder.Received(std::string(app::EraseScriptUserOnly) + "\nErased\nsim");
  recorder.Received("box> ");
  recorder.Sent("crc32 a1c00000 400000");
  recorder.Received("crc32 a1c00000 400000\n");
  Step(app::RunStep::PortClosed);
  const cli::BoxRecord r = recorder.Finish(cli::kExitComplete, "Result: COMPLETE");
  EXPECT_EQ(r.bootText, "Banner v1\r\nHit Enter: 3");
  EXPECT_EQ(r.command, std::string(app::EraseScriptUserOnly) + "\n");
  EXPECT_EQ(r.reply, std::string(app::EraseScriptUserOnly) + "\nErased\nsimbox> ");
  EXPECT_FALSE(r.bootTextCut);
  EXPECT_FALSE(r.replyCut);
  ASSERT_TRUE(r.wakingSeconds.has_value());
  ASSERT_TRUE(r.erasingSeconds.has_value());
  EXPECT_GE(*r.wakingSeconds, 0.0);
  EXPECT_LE(r.start, r.end);
}

// The window knows where the erase line's reply ended and what the read-back found; the record
// takes both from it, and the display's correction is not taken for a command.
TEST_F(Recorder, TheResultAndTheReplyComeFromTheWindow) {
  recorder.Received("\r\nsimbox> ");
  recorder.Sent(app::EraseScriptUserOnly);
  recorder.Sent("\n");
  recorder.Received("\nsimbox> " + std::string(app::EraseScriptUserOnly) + "\n");
  recorder.Sent("crc32 a1c00000 400000");
  app::EraseVerdict v;
  v.result = app::EraseResult::Failed;
  v.command = "crc32 a1c00000 400000";
  v.reply = std::string(app::EraseScriptUserOnly) + "\nsimbox> ";
  v.erased = false;
  recorder.Checked(v);
  recorder.Sent("vfd ERASE FAILED");
  const cli::BoxRecord r = recorder.Finish(cli::kExitFailed, "Result: FAILED: x");
  EXPECT_EQ(r.command, std::string(app::EraseScriptUserOnly) + "\n");
  EXPECT_EQ(r.readBackCommand, "crc32 a1c00000 400000");
  EXPECT_EQ(r.reply, v.reply);
  ASSERT_TRUE(r.verdict.has_value());
  EXPECT_EQ(r.verdict->erased, false);
  const json j = Decoded(cli::EncodeRecord(r));
  EXPECT_EQ(j.at("result"), "FAILED");
  EXPECT_EQ(j.at("readback").at("erased"), false);
}

TEST_F(Recorder, ABoxAtItsConsoleHasEverythingBeforeTheEraseLineAsBootText) {
  recorder.Received("\r\nsimbox> ");
  recorder.Sent(app::EraseScriptUserOnly);
  recorder.Sent("\n");
  const cli::BoxRecord r = recorder.Finish(cli::kExitInterrupted, "interrupted");
  EXPECT_EQ(r.bootText, "\r\nsimbox> ");
  EXPECT_EQ(r.reply, "");
  EXPECT_FALSE(r.wakingSeconds.has_value()) << "it never reached Receiver connected";
  EXPECT_TRUE(r.erasingSeconds.has_value()) << "erasing runs to the end of an interrupted Box";
}

TEST_F(Recorder, WhatTheBoxSaysIsBoundedAndMarkedCut) {
  recorder.Received(std::string(cli::kBootTextLimit - 1, 'b'));
  recorder.Received("xyz");
  recorder.Sent("\n");
  recorder.Sent(app::EraseScriptUserOnly);
  for (int i = 0; i < 100; ++i) recorder.Received(std::string(100, '.'));
  const cli::BoxRecord r = recorder.Finish(cli::kExitTimeout, "timed out");
  EXPECT_EQ(r.bootText.size(), cli::kBootTextLimit);
  EXPECT_EQ(r.bootText.back(), 'x');
  EXPECT_TRUE(r.bootTextCut);
  EXPECT_EQ(r.reply.size(), cli::kReplyLimit);
  EXPECT_TRUE(r.replyCut);
}

TEST_F(Recorder, TheFirstErrorIsTheOneKept) {
  recorder.NoteError({"first", 3, 1167});
  recorder.NoteError({"second", 2, 6});
  const cli::BoxRecord r = recorder.Finish(cli::kExitPortError, "failed");
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->text, "first");
  EXPECT_EQ(r.error->code, 3);
}

}  // namespace
