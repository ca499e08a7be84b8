// The workers' event stream: every event survives its line, and the parent takes no line on
// trust: whatever is not a well-formed event is refused with its reason, and a stream cut into
// any pieces reads the same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/EventStream.h"

namespace {

using Kind = cli::WorkerEvent::Kind;

std::vector<cli::WorkerEvent> EveryKind() {
  std::vector<cli::WorkerEvent> events(9);
  events[0].kind = Kind::Port;
  events[0].port = "COM3";
  events[0].device = "/dev/ttyUSB2";
  events[1].kind = Kind::Progress;
  events[1].step = app::RunStep::Waking;
  events[1].status = "Serial connected, sending stopbit (7)";
  events[1].state = "PREPARED";
  events[2].kind = Kind::Erase;
  events[2].withConfiguration = true;
  events[3].kind = Kind::PortClosed;
  events[4].kind = Kind::ErrorBox;
  events[4].caption = "Zanowipe";
  events[4].text = "Unable to read from com port (win error code: 1167)\nsecond \"line\"";
  events[5].kind = Kind::Problem;
  events[5].text = "cannot write to the record file";
  events[6].kind = Kind::Box;
  events[6].exitStatus = 130;
  events[6].text = "interrupted while the erase ran";
  events[7].kind = Kind::Counts;
  events[7].done = 12;
  events[7].failed = 1;
  events[8].kind = Kind::End;
  events[8].exitStatus = 3;
  events[8].done = 4;
  events[8].failed = 2;
  return events;
}

TEST(EventStream, EveryKindOfEventSurvivesItsLine) {
  for (const cli::WorkerEvent& sent : EveryKind()) {
    const std::string line = cli::EncodeEvent(sent);
    ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
    cli::WorkerEvent got;
    std::string error;
    ASSERT_TRUE(cli::ParseEvent(line.substr(0, line.size() - 1), got, error)) << line << error;
    EXPECT_EQ(got.kind, sent.kind) << line;
    EXPECT_EQ(got.port, sent.port) << line;
    EXPECT_EQ(got.device, sent.device) << line;
    EXPECT_EQ(got.step, sent.step) << line;
    EXPECT_EQ(got.status, sent.status) << line;
    EXPECT_EQ(got.state, sent.state) << line;
    EXPECT_EQ(got.withConfiguration, sent.withConfiguration) << line;
    EXPECT_EQ(got.caption, sent.caption) << line;
    EXPECT_EQ(got.text, sent.text) << line;
    EXPECT_EQ(got.exitStatus, sent.exitStatus) << line;
    EXPECT_EQ(got.done, sent.done) << line;
    EXPECT_EQ(got.failed, sent.failed) << line;
  }
}

TEST(EventStream, MalformedLinesAreRefusedWithTheirReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "not JSON"},
      {"hello", "not JSON"},
      {R"({"event":"end","status":0,"done":1)", "not JSON"},
      {"Serial connected", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {R"("end")", "not a JSON object"},
      {R"({})", "\"event\" is missing"},
      {R"({"event":7})", "\"event\" is missing or not a string"},
      {R"({"event":"reboot"})", "unknown event \"reboot\""},
      {R"({"event":"port","port":"COM1"})", "port event: \"device\" is missing"},
      {R"({"event":"progress","step":"dancing","status":"","state":""})", "unknown step"},
      {R"({"event":"progress","step":"waking","status":3,"state":""})", "\"status\""},
      {R"({"event":"erase","configuration":"yes"})", "\"configuration\""},
      {R"({"event":"box","status":-1,"text":""})", "box event: \"status\""},
      {R"({"event":"box","status":256,"text":""})", "box event: \"status\""},
      {R"({"event":"box","status":1.5,"text":""})", "box event: \"status\""},
      {R"({"event":"end","status":0,"done":-2,"failed":0})", "end event: \"done\""},
      {R"({"event":"counts","done":1})", "counts event: \"failed\""},
      {"{\"event\":\"problem\",\"text\":\"\xff\"}", "not JSON"},
  };
  for (const auto& [line, reason] : cases) {
    cli::WorkerEvent event;
    event.text = "untouched";
    std::string error;
    EXPECT_FALSE(cli::ParseEvent(line, event, error)) << line;
    EXPECT_NE(error.find(reason), std::string::npos) << line << "\ngave: " << error;
    EXPECT_EQ(event.text, "untouched") << line << ": a refused line changed the event";
  }
}

TEST(EventStream, UnknownFieldsOfAKnownEventAreIgnored) {
  cli::WorkerEvent event;
  std::string error;
  ASSERT_TRUE(cli::ParseEvent(R"({"event":"port-closed","since":12.5})", event, error)) << error;
  EXPECT_EQ(event.kind, Kind::PortClosed);
}

TEST(EventLineSplitter, AStreamCutAnywhereGivesTheSameLines) {
  std::string stream;
  for (const auto& e : EveryKind()) stream += cli::EncodeEvent(e);
  for (std::size_t piece : {1u, 2u, 7u, 64u, 4096u}) {
    cli::EventLineSplitter splitter;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      for (auto& l : splitter.Feed(std::string_view(stream).substr(at, piece))) lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), EveryKind().size()) << "pieces of " << piece;
    EXPECT_FALSE(splitter.Pending()) << "pieces of " << piece;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      cli::WorkerEvent e;
      std::string error;
      EXPECT_TRUE(cli::ParseEvent(lines[i], e, error)) << "pieces of " << piece << ": " << lines[i];
    }
  }
}

TEST(EventLineSplitter, AnOverlongLineIsDroppedWholeAndTheNextOneIsRead) {
  cli::EventLineSplitter splitter(16);
  EXPECT_TRUE(splitter.Feed("0123456789").empty());
  EXPECT_TRUE(splitter.Feed("0123456789").empty());  // now over the bound, still unended
  EXPECT_EQ(splitter.Overlong(), 1);
  EXPECT_TRUE(splitter.Pending());
  EXPECT_EQ(splitter.Feed(std::string(100, 'x') + "\nshort\n"), std::vector<std::string>{"short"});
  EXPECT_EQ(splitter.Overlong(), 1);
  EXPECT_EQ(splitter.Feed("0123456789abcdef\n"), std::vector<std::string>{"0123456789abcdef"});
  EXPECT_EQ(splitter.Feed("\n"), std::vector<std::string>{""});
  EXPECT_FALSE(splitter.Pending());
  splitter.Feed("cut off");
  EXPECT_TRUE(splitter.Pending()) << "a last line without its line feed is still pending";
}

}  // namespace
