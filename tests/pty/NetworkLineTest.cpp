// A network line as the tty behind a real ser2net sees it: settings sent over RFC 2217 land in
// the pty's termios (read from the master side, which reports its slave's line), raw TCP
// leaves them to the server, every byte value arrives as written, and a second opener is
// turned away.
#include <gtest/gtest.h>
#include <termios.h>

#include "serial/driver/posix/engine/ErrnoToWinError.h"
#include "serial/driver/posix/tty/Termios2.h"
#include "tests/pty/EngineFixture.h"

namespace {

using namespace ptytest;

class ServerOfPty : public ::testing::Test {
 protected:
  // Starts ser2net in front of the pty; false (with the test skipped or failed) when it cannot.
  void Serve(e2e::Ser2net::Kind kind) {
    server_ = std::make_unique<e2e::Ser2net>(pty_.SlavePath(), kind, scratch_.Path());
    if (e2e::Ser2net::Program().empty()) GTEST_SKIP() << server_->Problem();
    ASSERT_TRUE(server_->Ready()) << server_->Problem();
  }
  void TearDown() override {
    if (h_ != drv::kInvalidHandle) D().CloseHandle(h_);
  }
  termios Line() {
    termios t{};
    EXPECT_EQ(tcgetattr(pty_.MasterFd(), &t), 0);
    return t;
  }
  std::uint32_t Rate() {
    std::uint32_t in = 0, out = 0;
    EXPECT_EQ(drv::posix::ReadRates(pty_.MasterFd(), in, out), 0);
    return out;
  }

  PtyPair pty_;
  e2e::ScratchDir scratch_;
  std::unique_ptr<e2e::Ser2net> server_;
  drv::Handle h_ = drv::kInvalidHandle;
};

TEST_F(ServerOfPty, Rfc2217SettingsReachTheServersTty) {
  Serve(e2e::Ser2net::Kind::kRfc2217);
  if (IsSkipped() || HasFatalFailure()) return;
  h_ = OpenPort(server_->Url());
  ASSERT_NE(h_, drv::kInvalidHandle) << D().GetLastError();
  struct Case {
    std::uint32_t rate;
    std::uint8_t parity, stopBits;
    tcflag_t kept;  // what a pty keeps of the framing: PARENB goes, PARODD and CSTOPB stay
  };
  for (const Case& c : {Case{9600, drv::kOddParity, drv::kTwoStopBits, PARODD | CSTOPB},
                        Case{57600, drv::kEvenParity, drv::kOneStopBit, 0},
                        Case{115200, drv::kNoParity, drv::kOneStopBit, 0}}) {
    drv::Dcb dcb = ToolDcb();
    dcb.BaudRate = c.rate;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stopBits;
    ASSERT_TRUE(D().SetCommState(h_, dcb)) << "rate " << c.rate << ": " << D().GetLastError();
    // The server applies each request before it answers it; SetCommState waited for those.
    EXPECT_EQ(Rate(), c.rate) << "rate " << c.rate;
    EXPECT_EQ(Line().c_cflag & (PARODD | CSTOPB), c.kept) << "rate " << c.rate;
  }
}

TEST_F(ServerOfPty, RawTcpLeavesTheSettingsToTheServer) {
  Serve(e2e::Ser2net::Kind::kRawTcp);
  if (IsSkipped() || HasFatalFailure()) return;
  h_ = OpenPort(server_->Url());
  ASSERT_NE(h_, drv::kInvalidHandle) << D().GetLastError();
  drv::Dcb dcb = ToolDcb();
  dcb.BaudRate = 9600;
  dcb.Parity = drv::kOddParity;
  ASSERT_TRUE(D().SetCommState(h_, dcb)) << D().GetLastError();
  // A round trip through the server: by then a request would have been applied.
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(D().WriteFile(h_, "\xFF", 1, &done, &t.ov));
  EXPECT_EQ(pty_.Receive(1, Ms(3000)), std::vector<std::uint8_t>{0xFF}) << "no escaping";
  EXPECT_EQ(Rate(), 115200u) << "the server's own 115200n81";
  EXPECT_EQ(Line().c_cflag & PARODD, 0u);
}

// The port's escaping and ser2net's unescaping meet: every byte value, 0xFF doubled and CR NUL
// too, reaches the tty as it was written. (The other way round is the engine suites' business.)
TEST_F(ServerOfPty, EveryByteValueReachesTheTty) {
  for (const auto kind : {e2e::Ser2net::Kind::kRfc2217, e2e::Ser2net::Kind::kRawTcp}) {
    const char* name = kind == e2e::Ser2net::Kind::kRfc2217 ? "rfc2217" : "tcp";
    Serve(kind);
    if (IsSkipped() || HasFatalFailure()) return;
    h_ = OpenPort(server_->Url());
    ASSERT_NE(h_, drv::kInvalidHandle) << name << ": " << D().GetLastError();
    ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << name;
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    all.insert(all.end(), {0xFF, 0xFF, '\r', 0, '\r', '\n', 0xFF});
    std::uint32_t done = 0;
    Transfer t;
    ASSERT_TRUE(D().WriteFile(h_, all.data(), static_cast<std::uint32_t>(all.size()), &done, &t.ov))
        << name << ": " << D().GetLastError();
    EXPECT_EQ(pty_.Receive(all.size(), Ms(5000)), all) << name;
    ASSERT_TRUE(D().CloseHandle(h_));
    h_ = drv::kInvalidHandle;
    server_.reset();
  }
}

// ser2net takes one client per port: it settles a second one's options, says "Port already in
// use" and closes. The second open fails, or its device goes away at once if the options were
// settled before the close was seen; the tty stays the first client's.
TEST_F(ServerOfPty, ASecondOpenerIsTurnedAwayWhileTheFirstStaysUsable) {
  Serve(e2e::Ser2net::Kind::kRfc2217);
  if (IsSkipped() || HasFatalFailure()) return;
  h_ = OpenPort(server_->Url());
  ASSERT_NE(h_, drv::kInvalidHandle) << D().GetLastError();
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  const drv::Handle second = OpenPort(server_->Url());
  if (second == drv::kInvalidHandle) {
    EXPECT_EQ(D().GetLastError(), drv::posix::kErrorNetNameDeleted);
  } else {
    ASSERT_TRUE(D().SetCommTimeouts(second, Timeouts(drv::kMaxDword, 0, 0)));
    std::uint32_t error = drv::kErrorSuccess;
    const auto start = SteadyClock::now();
    while (error == drv::kErrorSuccess && ElapsedMs(start) < 5000) {
      std::uint8_t buf[64];
      std::uint32_t done = 0;
      Transfer t;
      if (!D().ReadFile(second, buf, sizeof buf, &done, &t.ov)) error = D().GetLastError();
      std::this_thread::sleep_for(Ms(5));
    }
    EXPECT_EQ(error, drv::kErrorDeviceNotConnected) << "the second connection was not ended";
    D().CloseHandle(second);
  }
  std::uint32_t done = 0;
  Transfer t;
  ASSERT_TRUE(D().WriteFile(h_, "ok", 2, &done, &t.ov)) << D().GetLastError();
  EXPECT_EQ(pty_.Receive(2, Ms(3000)), Bytes("ok"));
}

}  // namespace
