// The line's display: a table drawn again only when what it shows changes, with no reason to
// wake while every port waits for a Box; one line per change elsewhere; results only when quiet.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/cli/LineView.h"

namespace {

using Kind = cli::WorkerEvent::Kind;
using Step = app::RunStep;

cli::WorkerEvent Progress(Step step, const std::string& status, const std::string& state) {
  cli::WorkerEvent e;
  e.kind = Kind::Progress;
  e.step = step;
  e.status = status;
  e.state = state;
  return e;
}

cli::WorkerEvent Box(int status, const std::string& text) {
  cli::WorkerEvent e;
  e.kind = Kind::Box;
  e.exitStatus = status;
  e.text = text;
  return e;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

const char* const kOpened = "COM Port opened, switch Box to Power ON";

TEST(LineViewTable, DrawsOnlyWhatChangedAndHasNoTickWhileEveryPortWaits) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Table, {"COM1", "COM2"});
  EXPECT_TRUE(view.Draw(0, 120));
  EXPECT_FALSE(view.Draw(0.5, 120)) << "nothing changed";
  for (std::size_t i : {0u, 1u}) view.Apply(i, Progress(Step::PortOpened, kOpened, "PREPARED"), 1);
  EXPECT_TRUE(view.Draw(1, 120));
  // The same texts again, and any time later: no news.
  view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 2);
  EXPECT_FALSE(view.Draw(3600, 120));
  EXPECT_LT(view.NextTick(3600), 0) << "a port waiting for its Box must not wake the parent";
  EXPECT_EQ(view.Frames(), 2);
  EXPECT_EQ(Count(out.str(), "PORT"), 2) << "one header a frame";
  EXPECT_EQ(Count(out.str(), "\x1b[3F"), 1) << "every frame after the first starts over it";
  EXPECT_EQ(err.str(), "");
}

TEST(LineViewTable, ARunningStepTicksOnceASecondFromWhenItBegan) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Table, {"COM1", "COM2"});
  view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  view.Apply(0, Progress(Step::Erasing, "Erasing data, please wait", "WORKING"), 10.25);
  EXPECT_TRUE(view.Draw(10.25, 120));
  EXPECT_DOUBLE_EQ(view.NextTick(10.25), 11.25);
  EXPECT_FALSE(view.Draw(11.0, 120)) << "the shown time is still 0s";
  EXPECT_TRUE(view.Draw(11.25, 120));
  EXPECT_NE(out.str().find("1s"), std::string::npos) << out.str();
  EXPECT_DOUBLE_EQ(view.NextTick(75.5), 76.25);
  EXPECT_TRUE(view.Draw(75.5, 120));
  EXPECT_NE(out.str().find("1m05s"), std::string::npos) << out.str();
  cli::WorkerEvent end;
  end.kind = Kind::End;
  end.done = 1;
  view.Apply(0, end, 76);
  EXPECT_LT(view.NextTick(76), 0) << "an ended port has nothing running";
}

// Messages are shown at once, above the table: the table is taken off the screen where it
// stands and drawn again under them, so no text lands inside it.
TEST(LineViewTable, LinesAreCutToTheTerminalAndMessagesGoAboveTheTableAtOnce) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Table, {"/dev/serial/by-id/usb-long-name"});
  view.Apply(0, Progress(Step::Waking, "Serial connected, sending stopbit (12)", "PREPARED"), 0);
  ASSERT_TRUE(view.Draw(0, 40));
  cli::WorkerEvent box;
  box.kind = Kind::ErrorBox;
  box.caption = "Zanowipe";
  box.text = "Unable to write to com port (win error code: 1167)";
  view.Apply(0, box, 1);
  EXPECT_EQ(err.str(),
            "zanowipe-cli: /dev/serial/by-id/usb-long-name: error box [Zanowipe]: Unable to write "
            "to com port (win error code: 1167)\n");
  EXPECT_NE(out.str().find("\x1b[2F\x1b[J"), std::string::npos) << "the table was not taken off";
  view.Note(0, "the server did not confirm DTR off");
  view.Apply(0, Box(1, "failed while waiting for the Box's console"), 1);
  EXPECT_TRUE(view.Draw(1, 40)) << "the table is drawn again under the messages";
  EXPECT_EQ(view.Frames(), 2);
  std::istringstream frame(out.str());
  for (std::string line; std::getline(frame, line);) {
    const std::size_t start = line.rfind("\x1b[2K");
    const std::string shown = start == std::string::npos ? line : line.substr(start + 4);
    EXPECT_LE(shown.size(), 39u) << shown;
  }
  cli::WorkerEvent end;
  end.kind = Kind::End;
  end.exitStatus = 1;
  end.failed = 1;
  view.Apply(0, end, 2);
  view.Finish(2, 40);
  EXPECT_EQ(Count(err.str(), "zanowipe-cli: "), 3) << err.str();
  // A port that ended on a failure of its own says which, and a note did not replace it.
  EXPECT_NE(out.str().find("Summary: /dev/serial/by-id/usb-long-name: 0 done, 1 failed, 0 "
                           "unverified (failed while waiting for the Box's console)"),
            std::string::npos)
      << out.str();
}

TEST(LineViewLines, EveryChangeIsOneLineStartingWithItsPort) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Lines, {"COM1", "/dev/pts/4"});
  cli::WorkerEvent port;
  port.kind = Kind::Port;
  port.port = "COM1";
  port.device = "/dev/pts/4";
  view.Apply(1, port, 0.5);
  view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0.5);
  view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0.6);
  view.Apply(0, Progress(Step::Erasing, "Erasing data, please wait", "WORKING"), 1);
  view.Apply(0, Box(0, "Result: COMPLETE"), 2);
  view.Apply(1, Box(3, "timed out after 5 s"), 5);
  EXPECT_FALSE(view.Draw(5, 80));
  EXPECT_EQ(out.str(),
            "[   0.500] /dev/pts/4: port:   COM1 (/dev/pts/4)\n"
            "[   0.500] /dev/pts/4: status: COM Port opened, switch Box to Power ON\n"
            "[   0.500] /dev/pts/4: state:  PREPARED\n"
            "[   1.000] COM1: status: Erasing data, please wait\n"
            "[   1.000] COM1: state:  WORKING\n"
            "[   2.000] COM1: Result: COMPLETE\n");
  EXPECT_EQ(err.str(), "zanowipe-cli: /dev/pts/4: timed out after 5 s\n");
  EXPECT_LT(view.NextTick(5), 0) << "only a table shows running time";
}

TEST(LineViewQuiet, OnlyResultsErrorsAndTheSummary) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Quiet, {"COM1", "COM2"});
  view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  view.Apply(0, Box(0, "Result: COMPLETE"), 3);
  cli::WorkerEvent counts;
  counts.kind = Kind::Counts;
  counts.done = 1;
  view.Apply(0, counts, 3);
  view.Problem(1, "the worker was ended by signal Killed before its result", 4);
  view.Finish(5, 80);
  EXPECT_EQ(out.str(),
            "COM1: Result: COMPLETE\n"
            "Summary: COM1: 1 done, 0 failed, 0 unverified\n"
            "Summary: COM2: 0 done, 0 failed, 0 unverified\n");
  EXPECT_EQ(err.str(),
            "zanowipe-cli: COM2: the worker was ended by signal Killed before its result\n");
}

}  // namespace
