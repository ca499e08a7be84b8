// SetCommState as the tty sees it: every DCB field mapped, read back from the master side
// (on Linux a pty master reports its slave's line settings), and the Windows refusals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial/driver/CommDriver.h"
#include "serial/driver/posix/engine/DcbRules.h"
#include "serial/driver/posix/engine/ReceiveQueue.h"
#include "serial/driver/posix/tty/LineSettings.h"
#include "serial/driver/posix/tty/Termios2.h"
#include "tests/pty/PtyPair.h"

namespace {

using namespace ptytest;
drv::CommDriver& D() {
  return drv::DefaultCommDriver();
}

class EngineLine : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = OpenPort(pty_.SlavePath());
    ASSERT_NE(h_, drv::kInvalidHandle) << D().GetLastError();
  }
  void TearDown() override { D().CloseHandle(h_); }
  termios Line() {
    termios t{};
    EXPECT_EQ(tcgetattr(pty_.MasterFd(), &t), 0);
    return t;
  }

  PtyPair pty_;
  drv::Handle h_ = drv::kInvalidHandle;
};

TEST_F(EngineLine, TheToolsOwnLineIsAcceptedOnAPty) {
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  const termios t = Line();
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(cfgetispeed(&t), B115200);
  std::uint32_t status = 0xFFFF;
  ASSERT_TRUE(D().GetCommModemStatus(h_, &status)) << "a pty has no modem lines, still success";
  EXPECT_EQ(status, 0u);
}

// The kernel copies arriving bytes through untouched only when nothing asks it to look at
// each one: no marking of errors or breaks, no parity check, no translation, no flow control.
bool PassesBytesUntouched(const termios& t) {
  const tcflag_t looksAtEachByte =
      PARMRK | INPCK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IUCLC;
  return (t.c_iflag & looksAtEachByte) == 0 && (t.c_lflag & (ICANON | ISIG | ECHO)) == 0;
}

// A pty carries no line errors and no breaks: marking them would only cost every byte a pass
// through the line discipline. A line that can have them is still marked.
TEST_F(EngineLine, APtyIsLeftUnmarkedAndAMarkedLineKeepsErrorsAndBreaks) {
  EXPECT_TRUE(PassesBytesUntouched(Line())) << "after the open";
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  EXPECT_TRUE(PassesBytesUntouched(Line())) << "after the tool's DCB";

  termios marked{};
  bool arbitrary = false;
  drv::posix::ApplyDcbToTermios(ToolDcb(), drv::posix::LineErrors::kMarked, marked, &arbitrary);
  EXPECT_EQ(marked.c_iflag & (PARMRK | INPCK), static_cast<tcflag_t>(PARMRK | INPCK));
  EXPECT_EQ(marked.c_iflag & (IGNPAR | IGNBRK | BRKINT), 0u) << "errors and breaks kept, marked";
  termios unmarked{};
  unmarked.c_iflag = PARMRK | INPCK | BRKINT;  // what a previous user may have left
  drv::posix::ApplyDcbToTermios(ToolDcb(), drv::posix::LineErrors::kNone, unmarked, &arbitrary);
  EXPECT_TRUE(PassesBytesUntouched(unmarked));
}

// The engine's pty tests run unmarked now; a wire's line is marked by the same kernel code.
// Here a pty is set up as a marked line would be, and what the kernel hands over goes
// through the queue's decoder: every byte value arrives as sent, 0xFF runs included.
TEST(MarkedLine, EveryByteValueSurvivesTheKernelsMarkingAndTheDecoder) {
  PtyPair pty;
  const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave, 0) << pty.SlavePath();
  drv::Dcb dcb = ToolDcb();
  dcb.Flags &= ~drv::kFNull;
  termios t{};
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  bool arbitrary = false;
  drv::posix::ApplyDcbToTermios(dcb, drv::posix::LineErrors::kMarked, t, &arbitrary);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);

  std::string sent;
  for (int i = 0; i < 256; ++i) sent.push_back(static_cast<char>(i));
  sent += std::string("\xFF\xFF\xFF\x00\xFF", 5);
  pty.Send(sent);
  drv::posix::ReceiveQueue queue;
  queue.SetMarked(true);
  queue.SetRules(drv::posix::ReceiveRulesFor(dcb));
  queue.SetLimit(4096);
  std::uint32_t errors = 0;
  std::uint8_t chunk[64];  // small reads, so that marks may be cut between them
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (queue.Size() < sent.size() && std::chrono::steady_clock::now() < until) {
    const ssize_t n = ::read(slave, chunk, sizeof chunk);
    if (n > 0) errors |= queue.Accept(chunk, static_cast<std::size_t>(n)).errors;
    if (n <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::close(slave);
  std::string got(queue.Size(), '\0');
  queue.Take(reinterpret_cast<std::uint8_t*>(got.data()), static_cast<std::uint32_t>(got.size()));
  EXPECT_EQ(got, sent);
  EXPECT_EQ(errors, 0u) << "0xFF data bytes are no line errors";
}

TEST_F(EngineLine, EveryRateOfTheTableIsAcceptedIncludingThoseWithoutAConstant) {
  for (std::uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                             56000u, 57600u, 115200u}) {
    drv::Dcb dcb = ToolDcb();
    dcb.BaudRate = rate;
    ASSERT_TRUE(D().SetCommState(h_, dcb)) << "rate " << rate << " error " << D().GetLastError();
    std::uint32_t in = 0, out = 0;
    ASSERT_EQ(drv::posix::ReadRates(pty_.MasterFd(), in, out), 0);
    EXPECT_EQ(out, rate) << "rate " << rate;
    EXPECT_EQ(in, rate) << "rate " << rate;
  }
}

// A pty keeps CS8 and clears PARENB whatever it is asked, so framing is checked on the
// termios the engine builds; what the pty keeps (CSTOPB, CMSPAR, PARODD) is checked there too.
termios Built(const drv::Dcb& dcb) {
  termios t{};
  bool arbitrary = false;
  drv::posix::ApplyDcbToTermios(dcb, drv::posix::LineErrors::kMarked, t, &arbitrary);
  return t;
}

TEST_F(EngineLine, ParityKindsIncludingMarkAndSpace) {
  struct Case {
    std::uint8_t parity;
    tcflag_t flags;
  };
  for (const Case& c :
       {Case{drv::kNoParity, 0}, Case{drv::kOddParity, PARENB | PARODD},
        Case{drv::kEvenParity, PARENB}, Case{drv::kMarkParity, PARENB | PARODD | CMSPAR},
        Case{drv::kSpaceParity, PARENB | CMSPAR}}) {
    drv::Dcb dcb = ToolDcb();
    dcb.Parity = c.parity;
    EXPECT_EQ(Built(dcb).c_cflag & (PARENB | PARODD | CMSPAR), c.flags)
        << "parity " << int(c.parity);
    ASSERT_TRUE(D().SetCommState(h_, dcb)) << "parity " << int(c.parity);
    EXPECT_EQ(Line().c_cflag & (PARODD | CMSPAR), c.flags & (PARODD | CMSPAR))
        << "parity " << int(c.parity);
  }
}

TEST_F(EngineLine, StopBitsFollowTheWindowsRules) {
  struct Case {
    std::uint8_t byteSize, stopBits;
    bool accepted;
    tcflag_t size;
  };
  for (const Case& c :
       {Case{8, drv::kOneStopBit, true, CS8}, Case{8, drv::kTwoStopBits, true, CS8},
        Case{5, drv::kOne5StopBits, true, CS5}, Case{7, drv::kOne5StopBits, false, 0},
        Case{5, drv::kTwoStopBits, false, 0}, Case{6, drv::kOneStopBit, true, CS6},
        Case{7, drv::kTwoStopBits, true, CS7}}) {
    drv::Dcb dcb = ToolDcb();
    dcb.ByteSize = c.byteSize;
    dcb.StopBits = c.stopBits;
    const bool ok = D().SetCommState(h_, dcb);
    EXPECT_EQ(ok, c.accepted) << int(c.byteSize) << " data bits, stop bits code "
                              << int(c.stopBits);
    if (!ok) {
      EXPECT_EQ(D().GetLastError(), drv::kErrorInvalidParameter);
      continue;
    }
    EXPECT_EQ(Built(dcb).c_cflag & CSIZE, c.size);
    EXPECT_EQ((Line().c_cflag & CSTOPB) != 0, c.stopBits != drv::kOneStopBit)
        << int(c.byteSize) << " data bits, stop bits code " << int(c.stopBits);
  }
}

TEST_F(EngineLine, ImpossibleBlocksAreRefusedWithInvalidParameter) {
  auto refused = [&](drv::Dcb dcb, const char* what) {
    EXPECT_FALSE(D().SetCommState(h_, dcb)) << what;
    EXPECT_EQ(D().GetLastError(), drv::kErrorInvalidParameter) << what;
  };
  ASSERT_TRUE(D().SetCommState(h_, ToolDcb()));
  drv::Dcb dcb = ToolDcb();
  dcb.BaudRate = 0;
  refused(dcb, "rate 0");
  dcb = ToolDcb();
  dcb.ByteSize = 9;
  refused(dcb, "9 data bits");
  dcb = ToolDcb();
  dcb.Parity = 5;
  refused(dcb, "parity 5");
  dcb = ToolDcb();
  dcb.Flags |= drv::kFOutX;
  dcb.XonChar = dcb.XoffChar = 0x11;
  refused(dcb, "XON equal to XOFF");
  dcb = ToolDcb();
  dcb.BaudRate = 300;
  dcb.ByteSize = 5;
  dcb.StopBits = drv::kTwoStopBits;
  refused(dcb, "5 data bits with 2 stop bits");
  // A refused block leaves the line as it was.
  const termios t = Line();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(EngineLine, FlowControlMapsToTheKernelsSwitches) {
  drv::Dcb dcb = ToolDcb();
  dcb.Flags |= drv::kFOutX | drv::kFInX | drv::kFOutxCtsFlow;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  ASSERT_TRUE(D().SetCommState(h_, dcb)) << D().GetLastError();
  termios t = Line();
  EXPECT_NE(t.c_iflag & IXON, 0u);
  EXPECT_NE(t.c_iflag & IXOFF, 0u);
  EXPECT_EQ(t.c_cc[VSTART], 0x01);
  EXPECT_EQ(t.c_cc[VSTOP], 0x02);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

  dcb = ToolDcb();
  dcb.Flags |= drv::kRtsControlHandshake << drv::kFRtsControlShift;
  ASSERT_TRUE(D().SetCommState(h_, dcb));
  EXPECT_NE(Line().c_cflag & CRTSCTS, 0u) << "RTS handshake";

  // What Linux cannot do is accepted, not refused: DSR flow and sensitivity, RTS toggle, DTR
  // handshake, continue-on-XOFF.
  dcb = ToolDcb();
  dcb.Flags |= drv::kFOutxDsrFlow | drv::kFDsrSensitivity | drv::kFTXContinueOnXoff |
               (drv::kRtsControlToggle << drv::kFRtsControlShift) |
               (drv::kDtrControlHandshake << drv::kFDtrControlShift);
  EXPECT_TRUE(D().SetCommState(h_, dcb)) << D().GetLastError();
}

TEST_F(EngineLine, OversizedReceiveQueueIsRefused) {
  EXPECT_TRUE(D().SetupComm(h_, 262144, 1024));
  EXPECT_FALSE(D().SetupComm(h_, 0x7FFFFFFF, 1024));
  EXPECT_EQ(D().GetLastError(), drv::kErrorNotEnoughMemory);
}

}  // namespace
