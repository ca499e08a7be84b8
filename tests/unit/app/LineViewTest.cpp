// The line's display: a table fitted to its terminal, in which only the lines that changed are
// written again and nothing wakes while every port waits for a Box; one line per change
// elsewhere; results only when quiet. What the table shows is judged on a model of the screen.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/cli/LineView.h"
#include "tests/support/ScreenModel.h"

namespace {

using Kind = cli::WorkerEvent::Kind;
using Step = app::RunStep;
using Size = cli::TerminalSize;

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

cli::WorkerEvent Counts(Kind kind, int done, int failed, int unverified) {
  cli::WorkerEvent e;
  e.kind = kind;
  e.done = done;
  e.failed = failed;
  e.unverified = unverified;
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
const char* const kErasing = "Erasing data, please wait";
const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50281";
const std::string kLongFailure =
    "Result: FAILED: the range does not read back erased: crc32 1c2d3e4f, expected 5a6b7c8d";

// A view whose output is also fed to a model of the terminal, write by write.
struct Screen {
  Screen(std::vector<std::string> ports, Size size,
         cli::LineView::Mode mode = cli::LineView::Mode::Table)
      : size(size), model(size.columns, size.rows), view(out, err, mode, ports, "09:30:00") {}
  bool Draw(double now) {
    const bool drew = view.Draw(now, size);
    const std::string all = out.str();
    last = all.substr(fed);
    model.Feed(last);
    fed = all.size();
    return drew;
  }
  void Resize(Size to) {
    size = to;
    model.Resize(to.columns, to.rows);
  }
  Size size;
  std::ostringstream out, err;
  testsupport::ScreenModel model;
  cli::LineView view;
  std::size_t fed = 0;
  std::string last;  // what the last Draw wrote
};

TEST(LineViewTable, WritesOnlyTheLinesThatChangedAndHasNoTickWhileEveryPortWaits) {
  Screen s({"COM1", "COM2"}, {120, 40});
  EXPECT_TRUE(s.Draw(0));
  EXPECT_FALSE(s.Draw(0.5)) << "nothing changed";
  s.view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 1);
  EXPECT_TRUE(s.Draw(1));
  EXPECT_EQ(Count(s.last, "\x1b[2K"), 1) << "one row changed: " << s.last;
  EXPECT_EQ(Count(s.last, "PORT"), 0) << "the header stays as it was";
  s.view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 1);
  // The same texts again, and any time later: no news.
  s.view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 2);
  EXPECT_TRUE(s.Draw(2));
  EXPECT_FALSE(s.Draw(3600));
  EXPECT_LT(s.view.NextTick(3600), 0) << "a port waiting for its Box must not wake the parent";
  EXPECT_EQ(s.view.Frames(), 3);
  EXPECT_EQ(Count(s.model.Text(), kOpened), 2) << s.model.Text();
  EXPECT_EQ(s.model.Unknown(), 0);
  EXPECT_EQ(s.err.str(), "");
}

TEST(LineViewTable, RunningStepsTickTogetherOnTheLinesWholeSeconds) {
  Screen s({"COM1", "COM2"}, {120, 40});
  s.view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  s.view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  s.view.Apply(0, Progress(Step::Erasing, kErasing, "WORKING"), 10.25);
  s.view.Apply(1, Progress(Step::Waking, "Serial connected, sending stopbit (1)", "PREPARED"),
               10.5);
  EXPECT_TRUE(s.Draw(10.5));
  EXPECT_DOUBLE_EQ(s.view.NextTick(10.5), 11);
  EXPECT_FALSE(s.Draw(11)) << "both still show 0s";
  EXPECT_TRUE(s.Draw(12));
  EXPECT_EQ(Count(s.last, "\x1b[2K"), 2) << "both rows in one redraw: " << s.last;
  EXPECT_TRUE(s.Draw(75.5));
  EXPECT_NE(s.model.Text().find("1m05s"), std::string::npos) << s.model.Text();
  s.view.Apply(0, Counts(Kind::End, 1, 0, 0), 76);
  s.view.Apply(1, Counts(Kind::End, 1, 0, 0), 76);
  EXPECT_LT(s.view.NextTick(76), 0) << "an ended port has nothing running";
}

// Whatever the terminal's size, the table stays inside it: no line wraps, the screen never
// scrolls while the line runs (a terminal that scrolls at every redraw fills its scrollback and
// never shows the header), and ports that differ only deep in their names stay apart.
TEST(LineViewTable, FitsTheTerminalItIsShownOn) {
  for (const Size size : {Size{80, 10}, Size{80, 24}, Size{160, 50}, Size{100, 4}, Size{60, 2}}) {
    std::vector<std::string> ports;
    for (int i = 0; i < 16; ++i) ports.push_back(kById + std::to_string(10 + i) + "-if00-port0");
    Screen s(ports, size);
    s.Draw(0);
    const int scrolled = s.model.Scrolled();
    double now = 0;
    for (int round = 0; round < 3; ++round) {
      for (std::size_t i = 0; i < ports.size(); ++i) {
        now += 0.25;
        s.view.Apply(i, Progress(Step::PortOpened, kOpened, "PREPARED"), now);
        s.Draw(now);
        s.view.Apply(i, Progress(Step::Erasing, kErasing, "WORKING"), now);
        s.Draw(now);
        s.view.Apply(i, Box(i % 3 == 0 ? 5 : 0, i % 3 == 0 ? kLongFailure : "Result: COMPLETE"),
                     now);
        s.view.Apply(i, Counts(Kind::Counts, round + 1, 0, 0), now);
        if (i % 5 == 0) s.view.Problem(i, "the server did not confirm DTR off", now);
        s.Draw(now + 0.6);
      }
    }
    const std::string where = std::to_string(size.columns) + "x" + std::to_string(size.rows);
    EXPECT_EQ(s.model.Scrolled(), scrolled) << where << "\n" << s.model.Text();
    EXPECT_EQ(s.model.Unknown(), 0) << where;
    const std::vector<std::string> lines = s.model.Lines();
    std::vector<std::string> names;
    for (const std::string& line : lines) {
      EXPECT_LT(line.size(), static_cast<std::size_t>(size.columns)) << where << ": " << line;
      if (line.rfind("/dev/", 0) == 0 || line.rfind("...", 0) == 0) {
        names.push_back(line.substr(0, line.find("  ")));
      }
    }
    for (std::size_t a = 0; a < names.size(); ++a) {
      for (std::size_t b = a + 1; b < names.size(); ++b) {
        EXPECT_NE(names[a], names[b]) << where << ": two rows read the same\n" << s.model.Text();
      }
    }
    EXPECT_NE(s.model.Text().find("Total: 48 done, 0 failed"), std::string::npos) << where << "\n"
                                                                                  << s.model.Text();
    if (size.rows >= 3) {
      EXPECT_EQ(s.model.RowOf("PORT"), 0) << where << "\n" << s.model.Text();
      EXPECT_EQ(s.model.Text().find("more:") != std::string::npos, size.rows < 20)
          << where << "\n"
          << s.model.Text();
    }
  }
}

// The result of the last Box comes before the status text; on a narrow terminal the status and
// the counts give way to it, and its column does not move with the status's length.
TEST(LineViewTable, TheLastResultComesBeforeTheStatusAndIsCutLast) {
  for (const int columns : {80, 100, 160}) {
    Screen s({"/dev/ttyUSB0", "/dev/ttyUSB1"}, {columns, 24});
    s.view.Apply(0, Box(5, kLongFailure), 1);
    s.view.Apply(0, Counts(Kind::Counts, 0, 1, 0), 1);
    s.view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 2);
    s.view.Apply(1, Box(0, "Result: COMPLETE (the range read back erased: crc32 5a6b7c8d)"), 1);
    s.view.Apply(1, Counts(Kind::Counts, 1, 0, 0), 1);
    s.view.Apply(1, Progress(Step::Erasing, kErasing, "WORKING"), 2);
    s.Draw(2);
    const std::vector<std::string> lines = s.model.Lines();
    const std::size_t column = lines[0].find("LAST BOX");
    ASSERT_NE(column, std::string::npos) << s.model.Text();
    EXPECT_EQ(lines[1].find("FAILED: the range does not read"), column) << s.model.Text();
    EXPECT_EQ(lines[2].find("COMPLETE"), column) << s.model.Text();
    const std::size_t status = lines[2].find("Erasing");
    if (status != std::string::npos) {
      EXPECT_GT(status, column) << s.model.Text();
    }
    if (columns >= 160) {
      EXPECT_NE(lines[1].find("expected 5a6b7c8d  COM Port opened"), std::string::npos)
          << s.model.Text();
    }
  }
}

// A port that has ended shows why, not the status of a Box that never came; its last Box is the
// last one counted.
TEST(LineViewTable, AnEndedPortSaysWhyAndKeepsItsLastCountedBox) {
  Screen s({"COM1", "COM2", "COM3"}, {120, 24});
  cli::WorkerEvent closed;
  closed.kind = Kind::PortClosed;
  s.view.Apply(0, Box(0, "Result: COMPLETE (the range read back erased: crc32 5a6b7c8d)"), 1);
  s.view.Apply(0, Counts(Kind::Counts, 1, 0, 0), 1);
  s.view.Apply(0, Progress(Step::Prepared, "", ""), 2);
  s.view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 2);
  s.view.Apply(0, Box(130, "interrupted while waiting for the Box's console"), 9);
  s.view.Apply(0, closed, 9);
  s.view.Apply(0, Counts(Kind::End, 1, 0, 0), 9);
  // A Box that never came, without --loop: counted, and the port closed by the run.
  s.view.Apply(2, Progress(Step::PortOpened, kOpened, "PREPARED"), 1);
  s.view.Apply(2, Box(3, "timed out after 5 s"), 6);
  s.view.Apply(2, Counts(Kind::Counts, 0, 1, 0), 6);
  s.view.Apply(2, closed, 6);
  s.view.Apply(2, Counts(Kind::End, 0, 1, 0), 6);
  s.view.Apply(1, Progress(Step::Erasing, kErasing, "WORKING"), 3);
  s.view.Problem(1, "the worker was ended by signal Killed before its result", 4);
  s.Draw(10);
  const std::string row = s.model.Lines()[1];
  EXPECT_EQ(row.find(kOpened), std::string::npos) << row;
  EXPECT_NE(row.find("interrupted while waiting for the Box's console"), std::string::npos) << row;
  EXPECT_NE(row.find("COMPLETE"), std::string::npos) << row;
  EXPECT_NE(row.find("ended"), std::string::npos) << row;
  EXPECT_NE(s.model.Lines()[2].find("the worker was ended by signal"), std::string::npos)
      << s.model.Text();
  const std::string timedOut = s.model.Lines()[3];
  EXPECT_EQ(timedOut.find(kOpened), std::string::npos) << timedOut;
  EXPECT_NE(timedOut.find("FAILED: timed out after 5 s  port closed"), std::string::npos)
      << timedOut;
  EXPECT_NE(s.model.Text().find("COM2: the worker was ended by signal Killed"), std::string::npos)
      << "shown under the table at once:\n"
      << s.model.Text();
}

// What a worker or the parent says while the table shows goes under it at once, the table
// keeping its place, and in full to the error stream when the line ends; elsewhere to the error
// stream at once. A port that ended on a failure of its own names it in its summary, and a note
// (which leaves the row alone) does not replace it.
TEST(LineViewTable, MessagesGoUnderTheTableAtOnceAndInFullWhenTheLineEnds) {
  Screen s({"/dev/serial/by-id/usb-long-name", "COM2"}, {80, 12});
  s.view.Apply(0, Progress(Step::Waking, "Serial connected, sending stopbit (12)", "PREPARED"), 0);
  ASSERT_TRUE(s.Draw(0));
  cli::WorkerEvent box;
  box.kind = Kind::ErrorBox;
  box.caption = "Zanowipe";
  box.text = "Unable to write to com port (win error code: 1167)";
  s.view.Apply(0, box, 1);
  s.view.Note(0, "the server did not confirm DTR off");
  s.view.Apply(0, Box(1, "failed while waiting for the Box's console"), 1);
  s.view.Notice("interrupted: waiting for 1 port(s); Ctrl-C again ends them at once");
  EXPECT_EQ(s.err.str(), "") << "text on the terminal now would tear the table";
  EXPECT_TRUE(s.Draw(1)) << "the messages are news";
  EXPECT_EQ(s.model.Scrolled(), 0) << s.model.Text();
  EXPECT_EQ(s.model.RowOf("PORT"), 0) << s.model.Text();
  const int totals = s.model.RowOf("Total:");
  EXPECT_GT(s.model.RowOf("the server did not confirm DTR off"), totals) << s.model.Text();
  EXPECT_GT(s.model.RowOf("failed while waiting for the Box's console"), totals) << s.model.Text();
  const int notice = s.model.RowOf("interrupted: waiting");
  ASSERT_GE(notice, 0) << s.model.Text();
  EXPECT_EQ(s.model.Lines()[static_cast<std::size_t>(notice)].rfind("interrupted: waiting", 0), 0u)
      << "a word on the whole line names no port:\n"
      << s.model.Text();
  EXPECT_EQ(s.model.Text().find("Unable to write"), std::string::npos)
      << "only the newest three are shown:\n"
      << s.model.Text();
  for (const std::string& line : s.model.Lines()) EXPECT_LT(line.size(), 80u) << line;

  cli::WorkerEvent end;
  end.kind = Kind::End;
  end.exitStatus = 1;
  end.failed = 1;
  s.view.Apply(0, end, 2);
  end.exitStatus = 130;
  end.failed = 0;
  s.view.Apply(1, end, 2);
  s.view.Finish(2, s.size);
  EXPECT_EQ(s.err.str(),
            "zanowipe-cli: /dev/serial/by-id/usb-long-name: error box [Zanowipe]: Unable to write "
            "to com port (win error code: 1167)\n"
            "zanowipe-cli: /dev/serial/by-id/usb-long-name: the server did not confirm DTR off\n"
            "zanowipe-cli: /dev/serial/by-id/usb-long-name: failed while waiting for the Box's "
            "console\n"
            "zanowipe-cli: interrupted: waiting for 1 port(s); Ctrl-C again ends them at once\n");
  EXPECT_NE(s.out.str().find("Summary: /dev/serial/by-id/usb-long-name: 0 done, 1 failed, 0 "
                             "unverified (failed while waiting for the Box's console)\n"),
            std::string::npos)
      << s.out.str();
  EXPECT_NE(s.out.str().find("Summary: COM2: 0 done, 0 failed, 0 unverified\n"), std::string::npos)
      << "an interrupted port has no failure of its own to name:\n"
      << s.out.str();

  std::ostringstream out, err;
  cli::LineView lines(out, err, cli::LineView::Mode::Lines, {"COM1"});
  lines.Note(0, "the server did not confirm DTR off");
  lines.Notice("interrupted: waiting for 1 port(s)");
  EXPECT_EQ(err.str(),
            "zanowipe-cli: COM1: the server did not confirm DTR off\n"
            "zanowipe-cli: interrupted: waiting for 1 port(s)\n");
}

TEST(LineViewTable, AResizedTerminalGetsTheTableAnewInsideIt) {
  std::vector<std::string> ports;
  for (int i = 0; i < 16; ++i)
    ports.push_back(std::string("/dev/ttyUSB").append(std::to_string(i)));
  Screen s(ports, {160, 40});
  for (std::size_t i = 0; i < ports.size(); ++i) {
    s.view.Apply(i, Progress(Step::PortOpened, kOpened, "PREPARED"), 1);
  }
  s.Draw(1);
  s.Resize({80, 10});
  const int scrolled = s.model.Scrolled();
  EXPECT_TRUE(s.Draw(1)) << "the same table for another size";
  s.view.Apply(3, Progress(Step::Erasing, kErasing, "WORKING"), 2);
  s.Draw(2);
  EXPECT_EQ(s.model.Scrolled(), scrolled) << s.model.Text();
  EXPECT_EQ(s.model.RowOf("PORT"), 0) << s.model.Text();
  EXPECT_LE(s.model.CursorRow(), 9);
  for (const std::string& line : s.model.Lines()) EXPECT_LT(line.size(), 80u) << line;
  EXPECT_NE(s.model.Text().find("/dev/ttyUSB3"), std::string::npos) << "the busy port is shown";
}

TEST(LineViewTable, TheTotalsLineSumsThePortsAndThePace) {
  Screen s({"COM1", "COM2"}, {120, 24});
  s.view.Apply(0, Counts(Kind::Counts, 2, 1, 0), 900);
  s.view.Apply(1, Counts(Kind::Counts, 1, 0, 1), 1800);
  s.Draw(1900);
  EXPECT_NE(s.model.Text().find(
                "Total: 3 done, 1 failed, 1 unverified; 10.0 Boxes an hour; started 09:30:00"),
            std::string::npos)
      << s.model.Text();
  EXPECT_LT(s.view.NextTick(1900), 0) << "the totals do not tick";
  s.view.Finish(3600, {120, 24});
  EXPECT_NE(
      s.out.str().find("\nTotal: 3 done, 1 failed, 1 unverified, 5 Boxes in 1h00m (5.0 an hour)\n"),
      std::string::npos)
      << s.out.str();
}

TEST(LineViewMode, ATableOnlyOnATerminalThatMovesItsCursor) {
  using Mode = cli::LineView::Mode;
  struct Case {
    bool quiet, terminal;
    const char* term;
    Mode mode;
  };
  for (const Case& c :
       {Case{false, true, "xterm-256color", Mode::Table}, Case{false, true, "dumb", Mode::Lines},
        Case{false, true, "", Mode::Lines}, Case{false, true, nullptr, Mode::Lines},
        Case{false, false, "xterm", Mode::Lines}, Case{true, true, "xterm", Mode::Quiet}}) {
    EXPECT_EQ(cli::LineView::ChooseMode(c.quiet, c.terminal, c.term), c.mode)
        << c.quiet << c.terminal << (c.term ? c.term : "(unset)");
  }
}

TEST(LineViewLines, EveryChangeIsOneLineStartingWithItsPort) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Lines, {"COM1", "/dev/pts/4"});
  cli::WorkerEvent port;
  port.kind = Kind::Port;
  port.port = "/dev/pts/4";
  port.device = "/dev/pts/4";
  view.Apply(1, port, 0.5);
  view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0.5);
  view.Apply(1, Progress(Step::PortOpened, kOpened, "PREPARED"), 0.6);
  view.Apply(0, Progress(Step::Erasing, kErasing, "WORKING"), 1);
  view.Apply(0, Box(0, "Result: COMPLETE"), 2);
  view.Apply(0, Counts(Kind::Counts, 1, 0, 0), 2);
  // The next Box's window starts blank: no empty status line.
  view.Apply(0, Progress(Step::Prepared, "", ""), 2.5);
  view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 2.5);
  view.Apply(1, Box(3, "timed out after 5 s"), 5);
  EXPECT_FALSE(view.Draw(5, {80, 24}));
  EXPECT_EQ(out.str(),
            "[   0.500] /dev/pts/4: port:   /dev/pts/4\n"
            "[   0.500] /dev/pts/4: status: COM Port opened, switch Box to Power ON\n"
            "[   0.500] /dev/pts/4: state:  PREPARED\n"
            "[   1.000] COM1: status: Erasing data, please wait\n"
            "[   1.000] COM1: state:  WORKING\n"
            "[   2.000] COM1: Result: COMPLETE\n"
            "[   2.500] COM1: status: COM Port opened, switch Box to Power ON\n"
            "[   2.500] COM1: state:  PREPARED\n");
  EXPECT_EQ(err.str(), "zanowipe-cli: /dev/pts/4: timed out after 5 s\n");
  EXPECT_LT(view.NextTick(5), 0) << "only a table shows running time";
}

TEST(LineViewQuiet, OnlyResultsErrorsAndTheSummary) {
  std::ostringstream out, err;
  cli::LineView view(out, err, cli::LineView::Mode::Quiet, {"COM1", "COM2"});
  view.Apply(0, Progress(Step::PortOpened, kOpened, "PREPARED"), 0);
  view.Apply(0, Box(0, "Result: COMPLETE"), 3);
  view.Apply(0, Counts(Kind::Counts, 1, 0, 0), 3);
  view.Problem(1, "the worker was ended by signal Killed before its result", 4);
  view.Finish(5, {80, 24});
  EXPECT_EQ(out.str(),
            "COM1: Result: COMPLETE\n"
            "Summary: COM1: 1 done, 0 failed, 0 unverified\n"
            "Summary: COM2: 0 done, 0 failed, 0 unverified\n"
            "Total: 1 done, 0 failed, 0 unverified, 1 Box in 5s (720.0 an hour)\n");
  EXPECT_EQ(err.str(),
            "zanowipe-cli: COM2: the worker was ended by signal Killed before its result\n");
}

}  // namespace
