// The Telnet and Com Port Control layers of network ports, on byte strings a serial server
// sends and expects. The decoder's chunking and data invariants are fuzzed
// (tests/fuzz/TelnetDecoderFuzz.cpp); these pin down the meaning.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/driver/posix/net/ComPortOption.h"
#include "serial/driver/posix/net/TelnetCodec.h"
#include "serial/driver/posix/net/TelnetOptions.h"

namespace {

namespace telnet = drv::posix::telnet;
namespace rfc2217 = drv::posix::rfc2217;
using Bytes = std::vector<std::uint8_t>;
using telnet::kIac;

struct Log : telnet::DecoderSink {
  Bytes data;
  std::vector<std::string> messages;
  void OnData(const std::uint8_t* p, std::size_t n) override { data.insert(data.end(), p, p + n); }
  void OnNegotiation(std::uint8_t verb, std::uint8_t option) override {
    std::string m(1, 'N');
    m += std::to_string(verb);
    m += '/';
    m += std::to_string(option);
    messages.push_back(m);
  }
  void OnSubnegotiation(std::uint8_t option, const std::uint8_t* p, std::size_t n) override {
    std::string m(1, 'S');
    m += std::to_string(option);
    for (std::size_t i = 0; i < n; ++i) {
      m += ' ';
      m += std::to_string(p[i]);
    }
    messages.push_back(m);
  }
};

TEST(TelnetDecoder, SplitsDataFromCommandsWhereverTheChunksEnd) {
  // A modem-state notification holding an escaped 0xFF between two data runs, and a doubled
  // IAC as data.
  const Bytes stream = {'a',         kIac, telnet::kSb, 44,   107, kIac, kIac,          kIac,
                        telnet::kSe, 'b',  kIac,        kIac, 'c', kIac, telnet::kWill, 0};
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    Log log;
    telnet::Decoder d;
    d.SetBinary(true);
    d.Feed(stream.data(), cut, log);
    d.Feed(stream.data() + cut, stream.size() - cut, log);
    EXPECT_EQ(log.data, (Bytes{'a', 'b', kIac, 'c'})) << "cut at " << cut;
    EXPECT_EQ(log.messages, (std::vector<std::string>{"S44 107 255", "N251/0"}))
        << "cut at " << cut;
  }
}

TEST(TelnetDecoder, CrNulIsACrOnlyOutsideBinaryMode) {
  const Bytes stream = {'x', '>', '\r', 0, '\r', '\n'};
  Log nvt, binary;
  telnet::Decoder a, b;
  b.SetBinary(true);
  a.Feed(stream.data(), stream.size(), nvt);
  b.Feed(stream.data(), stream.size(), binary);
  EXPECT_EQ(nvt.data, (Bytes{'x', '>', '\r', '\r', '\n'}));
  EXPECT_EQ(binary.data, stream);
}

TEST(TelnetEncoder, DoublesIacAndStuffsABareCrOnlyOutsideBinaryMode) {
  const Bytes data = {'\r', kIac, '\r', '\n', '\r'};
  Bytes binary, nvt;
  telnet::EncodeData(data.data(), data.size(), true, binary);
  telnet::EncodeData(data.data(), data.size(), false, nvt);
  EXPECT_EQ(binary, (Bytes{'\r', kIac, kIac, '\r', '\n', '\r'}));
  EXPECT_EQ(nvt, (Bytes{'\r', 0, kIac, kIac, '\r', '\n', '\r', 0}));
}

TEST(TelnetOptions, AnswersEachRequestOnceAndNeverAnAnswer) {
  telnet::OptionTable t;
  t.Accept(telnet::kOptBinary, true, true);
  t.Accept(telnet::kOptComPort, true, false);
  Bytes out;
  t.RequestLocal(telnet::kOptBinary, out);
  t.RequestRemote(telnet::kOptBinary, out);
  t.RequestLocal(telnet::kOptComPort, out);
  EXPECT_EQ(out, (Bytes{kIac, telnet::kWill, 0, kIac, telnet::kDo, 0, kIac, telnet::kWill, 44}));

  out.clear();
  t.Receive(telnet::kDo, telnet::kOptBinary, out);    // answers our WILL
  t.Receive(telnet::kWill, telnet::kOptBinary, out);  // answers our DO
  t.Receive(telnet::kDo, telnet::kOptComPort, out);   // answers our WILL
  t.Receive(telnet::kWill, telnet::kOptBinary, out);  // said again: already on, no reply
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(t.Local(telnet::kOptComPort), telnet::OptionTable::State::kYes);
  EXPECT_EQ(t.Remote(telnet::kOptBinary), telnet::OptionTable::State::kYes);

  t.Receive(telnet::kWill, 1, out);  // echo offered: refused
  t.Receive(telnet::kDo, 3, out);    // suppress-go-ahead asked: refused
  EXPECT_EQ(out, (Bytes{kIac, telnet::kDont, 1, kIac, telnet::kWont, 3}));

  out.clear();
  t.Receive(telnet::kDont, telnet::kOptBinary, out);  // switched off: acknowledged once
  t.Receive(telnet::kDont, telnet::kOptBinary, out);
  EXPECT_EQ(out, (Bytes{kIac, telnet::kWont, 0}));
}

TEST(TelnetOptions, ARefusedRequestIsSettledWithoutAReply) {
  telnet::OptionTable t;
  Bytes out;
  t.RequestLocal(telnet::kOptComPort, out);
  out.clear();
  t.Receive(telnet::kDont, telnet::kOptComPort, out);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(t.Pending(telnet::kOptComPort));
  EXPECT_EQ(t.Local(telnet::kOptComPort), telnet::OptionTable::State::kNo);
}

TEST(ComPortOption, AskForTheDcbFramingFlowAndLines) {
  drv::Dcb dcb;
  dcb.BaudRate = 0x1FF;  // a value byte of 0xFF is escaped on the wire
  dcb.ByteSize = 7;
  dcb.Parity = drv::kEvenParity;
  dcb.StopBits = drv::kTwoStopBits;
  dcb.Flags = drv::kFOutxCtsFlow | (drv::kDtrControlEnable << drv::kFDtrControlShift) |
              (drv::kRtsControlHandshake << drv::kFRtsControlShift);
  const std::vector<rfc2217::Request> expected = {
      {rfc2217::kSetBaudRate, {0, 0, 1, 0xFF}},
      {rfc2217::kSetDataSize, {7}},
      {rfc2217::kSetParity, {3}},
      {rfc2217::kSetStopSize, {2}},
      {rfc2217::kSetControl, {rfc2217::kFlowOutHardware}},
      {rfc2217::kSetControl, {rfc2217::kFlowInHardware}},
      {rfc2217::kSetControl, {rfc2217::kDtrOn}},
  };
  const auto requests = rfc2217::RequestsFor(dcb);
  EXPECT_EQ(requests, expected);

  Bytes wire;
  rfc2217::Encode(requests[0], wire);
  EXPECT_EQ(wire, (Bytes{kIac, telnet::kSb, 44, 1, 0, 0, 1, kIac, kIac, kIac, telnet::kSe}));
  EXPECT_TRUE(rfc2217::Answers(requests[0], 101));
  EXPECT_FALSE(rfc2217::Answers(requests[0], 102));
}

TEST(ComPortOption, PlainDcbAsksForNoFlowControlAndItsLevels) {
  drv::Dcb dcb;
  dcb.BaudRate = 115200;
  dcb.ByteSize = 8;
  dcb.Flags = drv::kFOutX | drv::kFInX | (drv::kRtsControlEnable << drv::kFRtsControlShift);
  const auto r = rfc2217::RequestsFor(dcb);
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[0].value, (Bytes{0, 1, 0xC2, 0}));
  EXPECT_EQ(r[2].value, Bytes{1});  // no parity
  EXPECT_EQ(r[3].value, Bytes{1});  // one stop bit
  EXPECT_EQ(r[4].value, Bytes{rfc2217::kFlowOutXonXoff});
  EXPECT_EQ(r[5].value, Bytes{rfc2217::kFlowInXonXoff});
  EXPECT_EQ(r[6].value, Bytes{rfc2217::kDtrOff});
  EXPECT_EQ(r[7].value, Bytes{rfc2217::kRtsOn});
}

TEST(ComPortOption, PurgeFlagsBecomeOnePurgeRequest) {
  using rfc2217::PurgeRequestsFor;
  EXPECT_EQ(PurgeRequestsFor(drv::kPurgeRxClear | drv::kPurgeTxClear)[0].value,
            Bytes{rfc2217::kPurgeBoth});
  EXPECT_EQ(PurgeRequestsFor(drv::kPurgeRxClear | drv::kPurgeRxAbort)[0].value,
            Bytes{rfc2217::kPurgeReceive});
  EXPECT_EQ(PurgeRequestsFor(drv::kPurgeTxClear)[0].value, Bytes{rfc2217::kPurgeTransmit});
  EXPECT_TRUE(PurgeRequestsFor(drv::kPurgeTxAbort | drv::kPurgeRxAbort).empty());
}

TEST(ComPortOption, NotificationsBecomeWordsAndEventsBitByBit) {
  struct Case {
    std::uint8_t command, value;
    std::uint32_t events, errors, modem;
  };
  const Case cases[] = {
      {106, 0x02, drv::kEvErr, drv::kCeOverrun, 0},
      {106, 0x04, drv::kEvErr, drv::kCeRxParity, 0},
      {106, 0x08, drv::kEvErr, drv::kCeFrame, 0},
      {106, 0x10, drv::kEvBreak, drv::kCeBreak, 0},
      {106, 0x61, 0, 0, 0},  // data ready, shift register and holding register empty
      {107, 0x11, drv::kEvCts, 0, drv::kMsCtsOn},
      {107, 0x22, drv::kEvDsr, 0, drv::kMsDsrOn},
      {107, 0x88, drv::kEvRlsd, 0, drv::kMsRlsdOn},
      {107, 0x40, 0, 0, drv::kMsRingOn},           // ring rising: reported as it ends
      {107, 0x10, drv::kEvCts, 0, drv::kMsCtsOn},  // no delta bit: the level changed all the same
  };
  for (const Case& c : cases) {
    rfc2217::ServerState s;
    const std::uint8_t payload[] = {c.command, c.value};
    EXPECT_EQ(s.Take(payload, 2), c.events) << int(c.command) << " " << int(c.value);
    EXPECT_EQ(s.TakeErrors(), c.errors) << int(c.command) << " " << int(c.value);
    EXPECT_EQ(s.ModemStatus(), c.modem) << int(c.command) << " " << int(c.value);
  }

  rfc2217::ServerState ring;
  const std::uint8_t on[] = {107, 0x40}, off[] = {107, 0x00};
  ring.Take(on, 2);
  EXPECT_EQ(ring.Take(off, 2), drv::kEvRing);

  rfc2217::ServerState flow;
  const std::uint8_t suspend[] = {108}, resume[] = {109};
  flow.Take(suspend, 1);
  EXPECT_TRUE(flow.OutputSuspended());
  flow.Take(resume, 1);
  EXPECT_FALSE(flow.OutputSuspended());
}

}  // namespace
