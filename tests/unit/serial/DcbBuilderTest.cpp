// The driver blocks built from the settings: no device, no driver call.
#include <gtest/gtest.h>

#include <cstring>

#include "serial/DcbBuilder.h"
#include "serial/DriverWords.h"
#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

class DcbBuilderTest : public ::testing::Test {
 protected:
  fake::FakeCommDriver fake;
  TComX port{&fake};
};

TEST_F(DcbBuilderTest, DefaultsGiveTheDocumentedBlockAndNothingElse) {
  const drv::Dcb dcb = BuildDcb(port.LineSettings());
  drv::Dcb expected{};
  expected.DCBlength = 28;
  expected.BaudRate = 9600;
  expected.Flags = 0x0001;
  expected.XonLim = 256;
  expected.XoffLim = 256;
  expected.ByteSize = 8;
  expected.Parity = 0;
  expected.StopBits = 0;
  expected.XonChar = 0x11;
  expected.XoffChar = 0x13;
  EXPECT_EQ(std::memcmp(&dcb, &expected, sizeof dcb), 0);
  EXPECT_TRUE(fake.Calls().empty());
}

// The builder takes the settings as plain values: no port, no settings object, no driver.
TEST(DcbBuilderValuesTest, BlocksComeFromPlainValuesAlone) {
  LineValues line;
  EXPECT_EQ(BuildDcb(line).Flags, drv::kFBinary) << "default values";
  EXPECT_EQ(BuildDcb(line).BaudRate, 9600u) << "default values";
  line.BaudRate = br57600;
  line.DataBits = dbSeven;
  line.StopBits = sbTwoStopBits;
  line.EventChar = '#';
  line.FlowControl.ControlRTS = rtsHandshake;
  line.FlowControl.XoffChar = '!';
  line.Parity.Bits = prEven;
  line.Parity.Check = true;
  line.Parity.Replace = true;
  line.Parity.ReplaceChar = '*';
  line.InputSize = 4096;
  const drv::Dcb dcb = BuildDcb(line);
  EXPECT_EQ(dcb.BaudRate, 57600u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, drv::kTwoStopBits);
  EXPECT_EQ(dcb.Parity, drv::kEvenParity);
  EXPECT_EQ(dcb.EvtChar, '#');
  EXPECT_EQ(dcb.XoffChar, '!');
  EXPECT_EQ(dcb.ErrorChar, '*');
  EXPECT_EQ(dcb.XonLim, 1024);
  EXPECT_EQ(dcb.Flags, drv::kFBinary | 0x2000u | drv::kFParity | drv::kFErrorChar);

  TimeoutValues timeouts;
  timeouts.WriteTotalConstant = -5;
  EXPECT_EQ(BuildCommTimeouts(timeouts).WriteTotalTimeoutConstant, 0xFFFFFFFBu);
  EXPECT_EQ(BuildCommTimeouts(timeouts).ReadIntervalTimeout, 0xFFFFFFFFu);
}

// A port's values are what its setters and settings objects hold, input queue size included.
TEST_F(DcbBuilderTest, ThePortsLineSettingsAreItsCurrentValues) {
  port.SetBaudRate(br300);
  port.SetDataBits(dbSix);
  port.SetStopBits(sbOne5StopBits);
  port.SetDiscardNull(true);
  port.SetEventChar(7);
  port.FlowControl().SetOutDSRFlow(true);
  port.FlowControl().SetXonChar(1);
  port.Parity().SetBits(prMark);
  port.Parity().SetReplaceChar(9);
  port.Buffer().SetInputSize(64);
  const LineValues line = port.LineSettings();
  EXPECT_EQ(line.BaudRate, br300);
  EXPECT_EQ(line.DataBits, dbSix);
  EXPECT_EQ(line.StopBits, sbOne5StopBits);
  EXPECT_TRUE(line.DiscardNull);
  EXPECT_EQ(line.EventChar, 7);
  EXPECT_TRUE(line.FlowControl.OutDSRFlow);
  EXPECT_EQ(line.FlowControl.XonChar, 1);
  EXPECT_EQ(line.Parity.Bits, prMark);
  EXPECT_EQ(line.Parity.ReplaceChar, 9);
  EXPECT_EQ(line.InputSize, 64u);
}

TEST_F(DcbBuilderTest, EveryBaudRateHasItsDriverValue) {
  const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                 14400, 19200, 38400, 56000, 57600, 115200};
  for (int i = 0; i < 13; ++i) {
    port.SetBaudRate(static_cast<TBaudRate>(i));
    EXPECT_EQ(BuildDcb(port.LineSettings()).BaudRate, rates[i]) << "ordinal " << i;
  }
}

TEST_F(DcbBuilderTest, FramingFieldsFollowTheirEnumerations) {
  for (int i = 0; i < 4; ++i) {
    port.SetDataBits(static_cast<TDataBits>(i));
    EXPECT_EQ(BuildDcb(port.LineSettings()).ByteSize, 5 + i) << "data bits ordinal " << i;
  }
  for (int i = 0; i < 3; ++i) {
    port.SetStopBits(static_cast<TStopBits>(i));
    EXPECT_EQ(BuildDcb(port.LineSettings()).StopBits, i) << "stop bits ordinal " << i;
  }
  for (int i = 0; i < 5; ++i) {
    port.Parity().SetBits(static_cast<TParityBits>(i));
    const drv::Dcb dcb = BuildDcb(port.LineSettings());
    EXPECT_EQ(dcb.Parity, i) << "parity ordinal " << i;
    EXPECT_EQ(dcb.Flags, drv::kFBinary) << "parity bits alone set no flag, ordinal " << i;
  }
}

TEST_F(DcbBuilderTest, EachFlowControlOptionAddsOnlyItsFlag) {
  struct Case {
    const char* name;
    std::function<void(TComFlowControl&)> set;
    std::uint32_t flags;
  } cases[] = {
      {"OutCTSFlow", [](TComFlowControl& f) { f.SetOutCTSFlow(true); }, 0x0004},
      {"OutDSRFlow", [](TComFlowControl& f) { f.SetOutDSRFlow(true); }, 0x0008},
      {"dtrEnable", [](TComFlowControl& f) { f.SetControlDTR(dtrEnable); }, 0x0010},
      {"dtrHandshake", [](TComFlowControl& f) { f.SetControlDTR(dtrHandshake); }, 0x0020},
      {"rtsEnable", [](TComFlowControl& f) { f.SetControlRTS(rtsEnable); }, 0x1000},
      {"rtsHandshake", [](TComFlowControl& f) { f.SetControlRTS(rtsHandshake); }, 0x2000},
      {"rtsToggle", [](TComFlowControl& f) { f.SetControlRTS(rtsToggle); }, 0x3000},
      {"XonXoffOut", [](TComFlowControl& f) { f.SetXonXoffOut(true); }, 0x0100},
      {"XonXoffIn", [](TComFlowControl& f) { f.SetXonXoffIn(true); }, 0x0200},
      {"DSRSensitivity", [](TComFlowControl& f) { f.SetDSRSensitivity(true); }, 0x0040},
      {"TxContinueOnXoff", [](TComFlowControl& f) { f.SetTxContinueOnXoff(true); }, 0x0080},
  };
  for (const Case& c : cases) {
    TComX p(&fake);
    c.set(p.FlowControl());
    EXPECT_EQ(BuildDcb(p.LineSettings()).Flags, drv::kFBinary | c.flags) << c.name;
  }
}

TEST_F(DcbBuilderTest, LineValuesOfThePortReachTheirFields) {
  port.SetDiscardNull(true);
  port.SetEventChar('\r');
  port.FlowControl().SetXonChar('+');
  port.FlowControl().SetXoffChar('-');
  const drv::Dcb dcb = BuildDcb(port.LineSettings());
  EXPECT_EQ(dcb.Flags, drv::kFBinary | drv::kFNull);
  EXPECT_EQ(dcb.EvtChar, '\r');
  EXPECT_EQ(dcb.XonChar, '+');
  EXPECT_EQ(dcb.XoffChar, '-');
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
}

TEST_F(DcbBuilderTest, ReplaceWithoutCheckLeavesTheBlockAlone) {
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  drv::Dcb dcb = BuildDcb(port.LineSettings());
  EXPECT_EQ(dcb.Flags, drv::kFBinary);
  EXPECT_EQ(dcb.ErrorChar, 0);

  port.Parity().SetCheck(true);
  dcb = BuildDcb(port.LineSettings());
  EXPECT_EQ(dcb.Flags, drv::kFBinary | drv::kFParity | drv::kFErrorChar);
  EXPECT_EQ(dcb.ErrorChar, '?');

  port.Parity().SetReplace(false);
  dcb = BuildDcb(port.LineSettings());
  EXPECT_EQ(dcb.Flags, drv::kFBinary | drv::kFParity);
  EXPECT_EQ(dcb.ErrorChar, 0);
}

TEST_F(DcbBuilderTest, XonXoffLimitsAreAQuarterOfTheInputSizeInSixteenBits) {
  const std::pair<std::uint32_t, std::uint16_t> cases[] = {{1024, 256}, {1023, 255}, {262144, 0},
                                                           {262148, 1}, {0, 0},      {3, 0}};
  for (const auto& [size, limit] : cases) {
    port.Buffer().SetInputSize(size);
    const drv::Dcb dcb = BuildDcb(port.LineSettings());
    EXPECT_EQ(dcb.XonLim, limit) << "InputSize " << size;
    EXPECT_EQ(dcb.XoffLim, limit) << "InputSize " << size;
  }
}

TEST_F(DcbBuilderTest, TimeoutsGoBitForBitInFieldOrder) {
  TComTimeouts& t = port.Timeouts();
  drv::CommTimeouts ct = BuildCommTimeouts(t.Values());
  EXPECT_EQ(ct.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(ct.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(ct.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(ct.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(ct.WriteTotalTimeoutConstant, 1000u);

  t.SetReadInterval(1);
  t.SetReadTotalMultiplier(2);
  t.SetReadTotalConstant(-2);
  t.SetWriteTotalMultiplier(4);
  t.SetWriteTotalConstant(5);
  ct = BuildCommTimeouts(t.Values());
  EXPECT_EQ(ct.ReadIntervalTimeout, 1u);
  EXPECT_EQ(ct.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(ct.ReadTotalTimeoutConstant, 0xFFFFFFFEu);
  EXPECT_EQ(ct.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(ct.WriteTotalTimeoutConstant, 5u);
}

// The driver's numbers are written out here rather than taken from the driver header, so a
// wrong constant there is caught as surely as a wrong pairing in the tables.

TEST(DriverWordsTest, EachEventSelectsItsOwnDriverBit) {
  struct Row {
    TEvent event;
    const char* name;
    std::uint32_t bit;
  };
  const Row rows[] = {
      {evRxChar, "evRxChar", 0x0001}, {evTxEmpty, "evTxEmpty", 0x0004},
      {evRxFlag, "evRxFlag", 0x0002}, {evRing, "evRing", 0x0100},
      {evBreak, "evBreak", 0x0040},   {evCTS, "evCTS", 0x0008},
      {evDSR, "evDSR", 0x0010},       {evError, "evError", 0x0080},
      {evRLSD, "evRLSD", 0x0020},     {evRx80Full, "evRx80Full", 0x0400},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(EventBit(r.event), r.bit) << r.name;
    EXPECT_EQ(EventMaskOf({r.event}), r.bit) << r.name;
    EXPECT_EQ(EventMaskOf(TEvents(kAllEvents).Exclude(r.event)), 0x05FFu & ~r.bit)
        << "all but " << r.name;
  }
  EXPECT_EQ(EventMaskOf(kAllEvents), 0x05FFu);
  EXPECT_EQ(EventMaskOf({}), 0u);
}

TEST(DriverWordsTest, EachErrorBitGivesItsOwnErrorWithTheParityRule) {
  struct Row {
    std::uint32_t bit;
    const char* name;
    TComError error;
  };
  const Row rows[] = {
      {0x0001, "CE_RXOVER", ceRxOver}, {0x0002, "CE_OVERRUN", ceOverrun},
      {0x0008, "CE_FRAME", ceFrame},   {0x0010, "CE_BREAK", ceBreak},
      {0x0100, "CE_TXFULL", ceTxFull}, {0x0400, "CE_IOE", ceIO},
      {0x8000, "CE_MODE", ceMode},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ComErrorsFrom(r.bit, false), TComErrors{r.error}) << r.name;
    EXPECT_EQ(ComErrorsFrom(r.bit, true), TComErrors{r.error}) << r.name << ", parity checked";
  }
  // CE_RXPARITY counts only while parity is checked.
  EXPECT_EQ(ComErrorsFrom(0x0004, false), TComErrors{});
  EXPECT_EQ(ComErrorsFrom(0x0004, true), TComErrors{ceRxParity});
  // CE_PTO, CE_DNS, CE_OOP and bits no error uses are not reported.
  for (const std::uint32_t bit : {0x0200u, 0x0800u, 0x1000u, 0x0020u, 0x4000u, 0x10000u}) {
    EXPECT_EQ(ComErrorsFrom(bit, true), TComErrors{}) << "bit 0x" << std::hex << bit;
  }
  EXPECT_EQ(ComErrorsFrom(0xFFFFFFFFu, true).ToBits(), 0xFF);
  EXPECT_EQ(ComErrorsFrom(0xFFFFFFFFu, false), TComErrors::FromBits(0xFF).Exclude(ceRxParity));
}

TEST(DriverWordsTest, EachModemBitGivesItsOwnLine) {
  EXPECT_EQ(LineSignalsFrom(0x0010), TLineSignals{lsCTS}) << "MS_CTS_ON";
  EXPECT_EQ(LineSignalsFrom(0x0020), TLineSignals{lsDSR}) << "MS_DSR_ON";
  EXPECT_EQ(LineSignalsFrom(0x0040), TLineSignals{lsRing}) << "MS_RING_ON";
  EXPECT_EQ(LineSignalsFrom(0x0080), TLineSignals{lsRLSD}) << "MS_RLSD_ON";
  EXPECT_EQ(LineSignalsFrom(0x00F0), (TLineSignals{lsCTS, lsDSR, lsRing, lsRLSD}));
  EXPECT_EQ(LineSignalsFrom(~0xF0u), TLineSignals{});
}

}  // namespace
}  // namespace serial_test
