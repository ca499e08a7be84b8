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
  const drv::Dcb dcb = BuildDcb(port);
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

TEST_F(DcbBuilderTest, EveryBaudRateHasItsDriverValue) {
  const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                 14400, 19200, 38400, 56000, 57600, 115200};
  for (int i = 0; i < 13; ++i) {
    port.SetBaudRate(static_cast<TBaudRate>(i));
    EXPECT_EQ(BuildDcb(port).BaudRate, rates[i]) << "ordinal " << i;
  }
}

TEST_F(DcbBuilderTest, FramingFieldsFollowTheirEnumerations) {
  for (int i = 0; i < 4; ++i) {
    port.SetDataBits(static_cast<TDataBits>(i));
    EXPECT_EQ(BuildDcb(port).ByteSize, 5 + i) << "data bits ordinal " << i;
  }
  for (int i = 0; i < 3; ++i) {
    port.SetStopBits(static_cast<TStopBits>(i));
    EXPECT_EQ(BuildDcb(port).StopBits, i) << "stop bits ordinal " << i;
  }
  for (int i = 0; i < 5; ++i) {
    port.Parity().SetBits(static_cast<TParityBits>(i));
    const drv::Dcb dcb = BuildDcb(port);
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
    EXPECT_EQ(BuildDcb(p).Flags, drv::kFBinary | c.flags) << c.name;
  }
}

TEST_F(DcbBuilderTest, LineValuesOfThePortReachTheirFields) {
  port.SetDiscardNull(true);
  port.SetEventChar('\r');
  port.FlowControl().SetXonChar('+');
  port.FlowControl().SetXoffChar('-');
  const drv::Dcb dcb = BuildDcb(port);
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
  drv::Dcb dcb = BuildDcb(port);
  EXPECT_EQ(dcb.Flags, drv::kFBinary);
  EXPECT_EQ(dcb.ErrorChar, 0);

  port.Parity().SetCheck(true);
  dcb = BuildDcb(port);
  EXPECT_EQ(dcb.Flags, drv::kFBinary | drv::kFParity | drv::kFErrorChar);
  EXPECT_EQ(dcb.ErrorChar, '?');

  port.Parity().SetReplace(false);
  dcb = BuildDcb(port);
  EXPECT_EQ(dcb.Flags, drv::kFBinary | drv::kFParity);
  EXPECT_EQ(dcb.ErrorChar, 0);
}

TEST_F(DcbBuilderTest, XonXoffLimitsAreAQuarterOfTheInputSizeInSixteenBits) {
  const std::pair<std::uint32_t, std::uint16_t> cases[] = {{1024, 256}, {1023, 255}, {262144, 0},
                                                           {262148, 1}, {0, 0},      {3, 0}};
  for (const auto& [size, limit] : cases) {
    port.Buffer().SetInputSize(size);
    const drv::Dcb dcb = BuildDcb(port);
    EXPECT_EQ(dcb.XonLim, limit) << "InputSize " << size;
    EXPECT_EQ(dcb.XoffLim, limit) << "InputSize " << size;
  }
}

TEST_F(DcbBuilderTest, TimeoutsGoBitForBitInFieldOrder) {
  TComTimeouts& t = port.Timeouts();
  drv::CommTimeouts ct = BuildCommTimeouts(t);
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
  ct = BuildCommTimeouts(t);
  EXPECT_EQ(ct.ReadIntervalTimeout, 1u);
  EXPECT_EQ(ct.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(ct.ReadTotalTimeoutConstant, 0xFFFFFFFEu);
  EXPECT_EQ(ct.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(ct.WriteTotalTimeoutConstant, 5u);
}

TEST(DriverWordsTest, EventMaskTakesEachEventsDriverBit) {
  EXPECT_EQ(EventMaskOf(kAllEvents), 0x05FFu);
  EXPECT_EQ(EventMaskOf({}), 0u);
  EXPECT_EQ(EventMaskOf({evRxChar}), drv::kEvRxChar);
  EXPECT_EQ(EventMaskOf({evTxEmpty, evRxFlag}), drv::kEvTxEmpty | drv::kEvRxFlag);
  EXPECT_EQ(EventMaskOf({evRing, evBreak}), drv::kEvRing | drv::kEvBreak);
  EXPECT_EQ(EventMaskOf({evCTS, evDSR, evRLSD}), drv::kEvCts | drv::kEvDsr | drv::kEvRlsd);
  EXPECT_EQ(EventMaskOf({evError, evRx80Full}), drv::kEvErr | drv::kEvRx80Full);
}

TEST(DriverWordsTest, ErrorWordMapsBitByBitWithTheParityRule) {
  const std::uint32_t everything = 0xFFFFFFFFu;
  TComErrors all = ComErrorsFrom(everything, true);
  EXPECT_EQ(all.ToBits(), 0xFF);
  TComErrors unchecked = ComErrorsFrom(everything, false);
  EXPECT_EQ(unchecked, TComErrors::FromBits(0xFF).Exclude(ceRxParity));
  EXPECT_EQ(ComErrorsFrom(drv::kCeRxParity, false), TComErrors{});
  EXPECT_EQ(ComErrorsFrom(drv::kCeRxParity, true), TComErrors{ceRxParity});
  EXPECT_EQ(ComErrorsFrom(drv::kCeFrame | drv::kCeOverrun, false),
            (TComErrors{ceFrame, ceOverrun}));
  EXPECT_EQ(ComErrorsFrom(drv::kCeBreak | drv::kCeIoe | drv::kCeMode, false),
            (TComErrors{ceBreak, ceIO, ceMode}));
  EXPECT_EQ(ComErrorsFrom(drv::kCeRxOver | drv::kCeTxFull, false),
            (TComErrors{ceRxOver, ceTxFull}));
  EXPECT_EQ(ComErrorsFrom(drv::kCePto | drv::kCeDns | drv::kCeOop, true), TComErrors{});
}

TEST(DriverWordsTest, ModemStatusMapsTheFourLines) {
  EXPECT_EQ(LineSignalsFrom(drv::kMsCtsOn | drv::kMsRlsdOn), (TLineSignals{lsCTS, lsRLSD}));
  EXPECT_EQ(LineSignalsFrom(drv::kMsDsrOn | drv::kMsRingOn), (TLineSignals{lsDSR, lsRing}));
  EXPECT_EQ(LineSignalsFrom(~0xF0u), TLineSignals{});
}

}  // namespace
}  // namespace serial_test
