// Port names as they are shown and recorded: bytes that are not printable ASCII written one way
// (\xNN) in the terminal, the events and the records; long names cut so that rows still differ.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "app/cli/BoxRecord.h"
#include "app/cli/EventStream.h"
#include "app/cli/LineView.h"
#include "app/cli/PortName.h"
#include "app/cli/TextReport.h"

namespace {

const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";
const std::string kByPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:";

TEST(PortName, LongNamesKeepWhatTellsThemApart) {
  struct Case {
    std::vector<std::string> names;
    std::size_t width;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      // Serial numbers that differ at their end, then at their start: the whole serial where
      // it fits, with the name's start; else from where they differ.
      {{kById + "A50281BI-if00-port0", kById + "A50281BJ-if00-port0"},
       39,
       {"/dev/serial/by-id...A50281BI-if00-port0", "/dev/serial/by-id...A50281BJ-if00-port0"}},
      {{kById + "A50281BI-if00-port0", kById + "A50281BJ-if00-port0"},
       19,
       {"...281BI-if00-port0", "...281BJ-if00-port0"}},
      {{kById + "A50281BI-if00-port0", kById + "B50281BI-if00-port0"},
       19,
       {"...A50281BI-if00...", "...B50281BI-if00..."}},
      // The position of a by-path link.
      {{kByPath + "1.2:1.0-port0", kByPath + "1.3:1.0-port0"},
       24,
       {"/dev/ser...1.2:1.0-port0", "/dev/ser...1.3:1.0-port0"}},
      // Names that fit stay whole, beside one that does not.
      {{"/dev/ttyUSB0", "COM3 /dev/ttyUSB2", kById + "A50281BI-if00-port0"},
       20,
       {"/dev/ttyUSB0", "COM3 /dev/ttyUSB2", "/dev/serial/...port0"}},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> shown = cli::ShortNames(c.names, c.width);
    EXPECT_EQ(shown, c.shown) << c.names.front() << " in " << c.width;
    for (const std::string& s : shown) EXPECT_LE(s.size(), c.width) << s;
  }
}

// A name that is not UTF-8 (or holds control characters) reads the same wherever it appears,
// and puts nothing raw on the terminal.
TEST(PortName, ANameReadsTheSameOnTheTerminalInTheEventsAndInTheRecord) {
  const std::string raw = "/dev/serial/by-id/usb-\xff\xfe\x1b[2J-port0";
  const std::string shown = cli::ShownName(raw);
  EXPECT_EQ(shown, "/dev/serial/by-id/usb-\\xff\\xfe\\x1b[2J-port0");

  std::ostringstream out, err;
  cli::TextReport text(out, err, false, true);
  text.PortChosen(raw, raw);
  text.Ended(0, 1, 0, 0);
  cli::LineView view(out, err, cli::LineView::Mode::Lines, {raw, "COM2"});
  cli::WorkerEvent box;
  box.kind = cli::WorkerEvent::Kind::Box;
  box.text = "Result: COMPLETE";
  view.Apply(0, box, 1);
  for (const std::string& line : {"port:   " + shown + "\n", "Summary: " + shown + ": 1 done",
                                  shown + ": Result: COMPLETE"}) {
    EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
  }
  EXPECT_EQ(out.str().find_first_of("\x1b\xff"), std::string::npos) << out.str();

  cli::BoxRecord record;
  record.port = raw;
  record.device = raw;
  const nlohmann::json j = nlohmann::json::parse(cli::EncodeRecord(record));
  EXPECT_EQ(j.value("port", ""), shown);
  EXPECT_EQ(j.value("device", ""), shown);
}

}  // namespace
