// The pure parts of network ports: their names, and the client's side of a Telnet session with
// Com Port Control (negotiation, data, confirmations of settings, notifications).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/driver/posix/net/ComPortSession.h"
#include "serial/driver/posix/net/NetAddress.h"

namespace {

namespace telnet = drv::posix::telnet;
namespace rfc2217 = drv::posix::rfc2217;
using drv::posix::ComPortSession;
using drv::posix::NetProtocol;
using Bytes = std::vector<std::uint8_t>;

TEST(NetAddress, SchemesHostsAndPorts) {
  struct Good {
    const char* name;
    NetProtocol protocol;
    const char* host;
    int port;
  };
  for (const Good& g :
       {Good{"rfc2217://bench-a:3001", NetProtocol::kRfc2217, "bench-a", 3001},
        Good{"RFC2217://10.0.0.5:1", NetProtocol::kRfc2217, "10.0.0.5", 1},
        Good{"tcp://bench-a.example:65535", NetProtocol::kRawTcp, "bench-a.example", 65535},
        Good{"rfc2217://[::1]:3001", NetProtocol::kRfc2217, "::1", 3001},
        Good{"Tcp://[fe80::1%eth0]:7", NetProtocol::kRawTcp, "fe80::1%eth0", 7}}) {
    std::string problem;
    const auto a = drv::posix::ParseNetAddress(g.name, &problem);
    ASSERT_TRUE(a) << g.name << ": " << problem;
    EXPECT_EQ(a->protocol, g.protocol) << g.name;
    EXPECT_EQ(a->host, g.host) << g.name;
    EXPECT_EQ(a->port, g.port) << g.name;
    EXPECT_TRUE(drv::posix::IsNetworkPortName(g.name)) << g.name;
  }
  EXPECT_EQ(drv::posix::DescribeEndpoint(*drv::posix::ParseNetAddress("tcp://[::1]:9", nullptr)),
            "[::1] port 9");
}

TEST(NetAddress, BadNamesSayWhatIsWrong) {
  struct Bad {
    const char* name;
    const char* problem;
  };
  for (const Bad& b :
       {Bad{"rfc2217://bench-a", "no port number"}, Bad{"rfc2217://bench-a:", "no port number"},
        Bad{"rfc2217://bench-a:0", "no number from 1 to 65535"},
        Bad{"rfc2217://bench-a:65536", "no number from 1 to 65535"},
        Bad{"rfc2217://bench-a:123456", "no number from 1 to 65535"},
        Bad{"tcp://bench-a:30x1", "no number from 1 to 65535"},
        Bad{"tcp://bench-a:3001/x", "no number from 1 to 65535"}, Bad{"rfc2217://:3001", "no host"},
        Bad{"rfc2217://", "no port number"}, Bad{"rfc2217://[::1]3001", "no port number"},
        Bad{"rfc2217://[::1:3001", "without its ']'"}, Bad{"rfc2217://::1:3001", "in brackets"},
        Bad{"rfc2217://user@bench-a:3001", "'@'"}}) {
    std::string problem;
    EXPECT_FALSE(drv::posix::ParseNetAddress(b.name, &problem)) << b.name;
    EXPECT_NE(problem.find(b.problem), std::string::npos) << b.name << ": " << problem;
    EXPECT_TRUE(drv::posix::IsNetworkPortName(b.name)) << "never a path: " << b.name;
  }
  for (const char* other : {"COM1", "/dev/ttyUSB0", "rfc2217:/x:1", "telnet://x:1", ""}) {
    EXPECT_FALSE(drv::posix::IsNetworkPortName(other)) << other;
  }
}

Bytes Negotiation(std::uint8_t verb, std::uint8_t option) {
  return {telnet::kIac, verb, option};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes ServerMessage(std::uint8_t command, const Bytes& value) {
  Bytes payload{command};
  payload.insert(payload.end(), value.begin(), value.end());
  Bytes wire;
  telnet::EncodeSubnegotiation(telnet::kOptComPort, payload.data(), payload.size(), wire);
  return wire;
}

Bytes Encoded(const std::vector<rfc2217::Request>& requests) {
  Bytes wire;
  for (const auto& r : requests) rfc2217::Encode(r, wire);
  return wire;
}

// What one chunk from the server gives: the data, and what the session answered.
struct Outcome {
  std::string data;
  Bytes answer;
  ComPortSession::Taken taken;
};

Outcome Feed(ComPortSession& s, const Bytes& wire) {
  Outcome o;
  std::string data(wire.size(), '\0');
  o.taken =
      s.Take(wire.data(), wire.size(), reinterpret_cast<std::uint8_t*>(data.data()), o.answer);
  o.data = data.substr(0, o.taken.data);
  return o;
}

// ser2net's own opening, then its answers to ours.
const Bytes kServerAgrees = Cat({Negotiation(telnet::kDo, telnet::kOptBinary),
                                 Negotiation(telnet::kWill, telnet::kOptBinary),
                                 Negotiation(telnet::kDo, telnet::kOptComPort)});

TEST(ComPortSession, OpensWithItsOptionsAndAsksForNotificationsOnceAgreed) {
  ComPortSession s;
  Bytes out;
  s.Begin(out);
  EXPECT_EQ(out, Cat({Negotiation(telnet::kWill, telnet::kOptBinary),
                      Negotiation(telnet::kDo, telnet::kOptBinary),
                      Negotiation(telnet::kWill, telnet::kOptComPort)}));
  EXPECT_TRUE(s.Negotiating());
  EXPECT_FALSE(s.ComPortControl());

  const Outcome agreed = Feed(s, kServerAgrees);
  EXPECT_FALSE(s.Negotiating());
  EXPECT_TRUE(s.ComPortControl());
  EXPECT_EQ(agreed.answer, Encoded(rfc2217::NotificationMasks()))
      << "answers to its own requests are not answered; the masks follow the agreement";
  EXPECT_TRUE(Feed(s, kServerAgrees).answer.empty()) << "repeated agreement: nothing again";

  // What it does not know it refuses, once per request.
  const Outcome echo = Feed(s, Negotiation(telnet::kWill, 1));
  EXPECT_EQ(echo.answer, Negotiation(telnet::kDont, 1));
}

TEST(ComPortSession, ARefusedComPortOptionTakesNoSettings) {
  ComPortSession s;
  Bytes out;
  s.Begin(out);
  Feed(s, Cat({Negotiation(telnet::kDo, telnet::kOptBinary),
               Negotiation(telnet::kWill, telnet::kOptBinary),
               Negotiation(telnet::kDont, telnet::kOptComPort)}));
  EXPECT_FALSE(s.Negotiating());
  EXPECT_FALSE(s.ComPortControl());
}

TEST(ComPortSession, DataIsNvtUntilTheServerSendsBinaryAndIacIsUndone) {
  ComPortSession s;
  Bytes out;
  s.Begin(out);
  const Bytes nvt = {'a', '\r', 0, 'b', 0xFF, 0xFF};
  EXPECT_EQ(Feed(s, nvt).data, std::string("a\rb\xFF")) << "CR NUL before BINARY";
  // The switch takes effect within the same chunk.
  const Outcome binary = Feed(s, Cat({Negotiation(telnet::kWill, telnet::kOptBinary), nvt}));
  EXPECT_EQ(binary.data, std::string("a\r\0b\xFF", 5)) << "CR NUL in binary mode";

  Bytes sent;
  s.EncodeData(nvt.data(), nvt.size(), sent);
  EXPECT_EQ(sent, Bytes({'a', '\r', 0, 0, 'b', 0xFF, 0xFF, 0xFF, 0xFF}))
      << "before the server says DO BINARY, CR is followed by NUL";
  Feed(s, Negotiation(telnet::kDo, telnet::kOptBinary));
  sent.clear();
  s.EncodeData(nvt.data(), nvt.size(), sent);
  EXPECT_EQ(sent, Bytes({'a', '\r', 0, 'b', 0xFF, 0xFF, 0xFF, 0xFF})) << "binary: IAC doubled only";
}

drv::Dcb ToolDcb() {
  drv::Dcb dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = drv::kFBinary | drv::kFNull;
  dcb.ByteSize = 8;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

TEST(ComPortSession, SettingsWaitForTheirAnswersAndAKindLeftUnansweredIsToldOnce) {
  ComPortSession s;
  Bytes out;
  s.Begin(out);
  Feed(s, kServerAgrees);
  const auto until = ComPortSession::Clock::now() + std::chrono::milliseconds(400);
  out.clear();
  s.RequestSettings(ToolDcb(), until, out);
  EXPECT_EQ(out, Encoded(rfc2217::RequestsFor(ToolDcb())));
  ComPortSession::Clock::time_point waitUntil;
  ASSERT_TRUE(s.Unconfirmed(&waitUntil));
  EXPECT_EQ(waitUntil, until);

  // ser2net on a pty: it answers each setting with the value in effect (the rate as it set it,
  // in any order) and leaves DTR and RTS unanswered.
  const Bytes answers =
      Cat({ServerMessage(105, {rfc2217::kFlowInNone}), ServerMessage(101, {0, 1, 0xC2, 0}),
           ServerMessage(102, {8}), ServerMessage(103, {1}), ServerMessage(104, {1}),
           ServerMessage(105, {rfc2217::kFlowOutNone})});
  const Outcome taken = Feed(s, answers);
  EXPECT_EQ(taken.taken.events, 0u) << "answers are no notifications";
  EXPECT_TRUE(s.Unconfirmed(&waitUntil)) << "DTR and RTS are still awaited";
  EXPECT_EQ(s.StopWaiting(), "DTR off, RTS off");
  EXPECT_FALSE(s.Unconfirmed(&waitUntil));

  // Again: the kinds it never answered are not waited for, nor told again.
  s.RequestSettings(ToolDcb(), until, out);
  Feed(s, answers);
  EXPECT_FALSE(s.Unconfirmed(&waitUntil)) << "only DTR and RTS left, which are not awaited";
  EXPECT_EQ(s.StopWaiting(), "");

  // An answer of another group does not stand in for a missing one.
  ComPortSession other;
  other.Begin(out);
  Feed(other, kServerAgrees);
  other.RequestSettings(ToolDcb(), until, out);
  Feed(other,
       Cat({ServerMessage(101, {0, 1, 0xC2, 0}), ServerMessage(102, {8}), ServerMessage(103, {1}),
            ServerMessage(104, {1}), ServerMessage(105, {rfc2217::kDtrOff}),
            ServerMessage(105, {rfc2217::kDtrOff}), ServerMessage(105, {rfc2217::kRtsOff})}));
  EXPECT_EQ(other.StopWaiting(), "no outbound flow control, no inbound flow control")
      << "a second answer about DTR confirms no flow control";
}

TEST(ComPortSession, NotificationsReachTheirEventsErrorsAndStates) {
  ComPortSession s;
  Bytes out;
  s.Begin(out);
  Feed(s, kServerAgrees);
  // CTS and DSR high, CTS changed.
  Outcome o = Feed(s, Cat({Bytes{'x'}, ServerMessage(107, {0x31}), Bytes{'y'}}));
  EXPECT_EQ(o.data, "xy") << "data around a notification";
  EXPECT_EQ(o.taken.events, drv::kEvCts | drv::kEvDsr);
  EXPECT_EQ(s.ModemStatus(), drv::kMsCtsOn | drv::kMsDsrOn);
  o = Feed(s, ServerMessage(106, {0x14}));  // parity error and break
  EXPECT_EQ(o.taken.events, drv::kEvErr | drv::kEvBreak);
  EXPECT_EQ(o.taken.errors, drv::kCeRxParity | drv::kCeBreak);
  Feed(s, ServerMessage(108, {}));
  EXPECT_TRUE(s.OutputSuspended());
  Feed(s, ServerMessage(109, {}));
  EXPECT_FALSE(s.OutputSuspended());
  // An answer nobody waits for is no notification either.
  EXPECT_EQ(Feed(s, ServerMessage(101, {0, 0, 0x25, 0x80})).taken.events, 0u);
}

}  // namespace
