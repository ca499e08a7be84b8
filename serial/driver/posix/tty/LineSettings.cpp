#include "serial/driver/posix/tty/LineSettings.h"

#include "serial/driver/posix/engine/DcbRules.h"

namespace drv::posix {
namespace {

struct RateConstant {
  std::uint32_t rate;
  speed_t constant;
};

constexpr RateConstant kRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool FindRateConstant(std::uint32_t rate, speed_t* constant) {
  for (const auto& r : kRates) {
    if (r.rate == rate) {
      *constant = r.constant;
      return true;
    }
  }
  return false;
}

}  // namespace

void MakeRawForEngine(termios& t, LineErrors lineErrors) {
  cfmakeraw(&t);
  // Line errors and breaks are reported in-band (PARMRK), which Linux does only for the bytes
  // it checks (INPCK), so both are on wherever the line can have any; breaks must not become
  // NULs or signals. Marking makes the kernel look at every byte on its way in, so a line that
  // can have none is left unmarked and its bytes are handed over as they came.
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXANY | IXON | IXOFF | INPCK | PARMRK);
  if (lineErrors == LineErrors::kMarked) t.c_iflag |= INPCK | PARMRK;
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

void ApplyDcbToTermios(const Dcb& dcb, LineErrors lineErrors, termios& t,
                       bool* needsArbitraryRate) {
  MakeRawForEngine(t, lineErrors);
  if (dcb.Flags & kFOutX) t.c_iflag |= IXON;
  if (dcb.Flags & kFInX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[dcb.ByteSize - 5];
  switch (dcb.Parity) {
    case kOddParity:
      t.c_cflag |= PARENB | PARODD;
      break;
    case kEvenParity:
      t.c_cflag |= PARENB;
      break;
    case kMarkParity:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kSpaceParity:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  // With CS5, CSTOPB means 1.5 stop bits on Linux UARTs, which is what ONE5STOPBITS asks.
  if (dcb.StopBits != kOneStopBit) t.c_cflag |= CSTOPB;
  // Linux has one switch for both directions of hardware handshake.
  if ((dcb.Flags & kFOutxCtsFlow) || RtsControl(dcb) == kRtsControlHandshake) {
    t.c_cflag |= CRTSCTS;
  }

  speed_t constant;
  *needsArbitraryRate = !FindRateConstant(dcb.BaudRate, &constant);
  if (!*needsArbitraryRate) {
    // A separate input rate left from an earlier BOTHER rate would survive cfsetispeed in
    // the CIBAUD bits; without them the input follows the output rate.
    t.c_cflag &= ~CIBAUD;
    cfsetispeed(&t, constant);
    cfsetospeed(&t, constant);
  }
}

}  // namespace drv::posix
