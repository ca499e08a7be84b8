#include "serial/DcbBuilder.h"

#include <array>

namespace {

template <typename T, std::size_t N, typename E>
T Lookup(const std::array<T, N>& table, E value) {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? table[i] : T{};
}

constexpr std::array<std::uint32_t, 13> kBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
constexpr std::array<std::uint8_t, 4> kByteSizes = {5, 6, 7, 8};
constexpr std::array<std::uint8_t, 3> kStopBits = {drv::kOneStopBit, drv::kOne5StopBits,
                                                   drv::kTwoStopBits};
constexpr std::array<std::uint8_t, 5> kParities = {
    drv::kNoParity, drv::kOddParity, drv::kEvenParity, drv::kMarkParity, drv::kSpaceParity};
constexpr std::array<std::uint32_t, 3> kDtrControls = {
    drv::kDtrControlDisable << drv::kFDtrControlShift,
    drv::kDtrControlEnable << drv::kFDtrControlShift,
    drv::kDtrControlHandshake << drv::kFDtrControlShift};
constexpr std::array<std::uint32_t, 4> kRtsControls = {
    drv::kRtsControlDisable << drv::kFRtsControlShift,
    drv::kRtsControlEnable << drv::kFRtsControlShift,
    drv::kRtsControlHandshake << drv::kFRtsControlShift,
    drv::kRtsControlToggle << drv::kFRtsControlShift};

}  // namespace

std::uint32_t BaudRateValue(TBaudRate rate) {
  return Lookup(kBaudRates, rate);
}
std::uint8_t ByteSizeValue(TDataBits bits) {
  return Lookup(kByteSizes, bits);
}
std::uint8_t StopBitsValue(TStopBits bits) {
  return Lookup(kStopBits, bits);
}
std::uint8_t ParityValue(TParityBits bits) {
  return Lookup(kParities, bits);
}
std::uint32_t DtrControlFlags(TDTRFlowControl control) {
  return Lookup(kDtrControls, control);
}
std::uint32_t RtsControlFlags(TRTSFlowControl control) {
  return Lookup(kRtsControls, control);
}

drv::Dcb BuildDcb(const LineValues& line) {
  const FlowControlValues& flow = line.FlowControl;
  const ParityValues& parity = line.Parity;

  drv::Dcb dcb{};
  dcb.DCBlength = sizeof(drv::Dcb);
  // XON/XOFF limits follow the input queue; a quotient above 65535 keeps only its low bits,
  // as the 16-bit fields do on Windows.
  const auto limit = static_cast<std::uint16_t>(line.InputSize >> 2);
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.EvtChar = static_cast<char>(line.EventChar);

  std::uint32_t flags = drv::kFBinary;
  if (line.DiscardNull) flags |= drv::kFNull;
  dcb.XonChar = static_cast<char>(flow.XonChar);
  dcb.XoffChar = static_cast<char>(flow.XoffChar);
  if (flow.OutCTSFlow) flags |= drv::kFOutxCtsFlow;
  if (flow.OutDSRFlow) flags |= drv::kFOutxDsrFlow;
  flags |= DtrControlFlags(flow.ControlDTR);
  flags |= RtsControlFlags(flow.ControlRTS);
  if (flow.XonXoffOut) flags |= drv::kFOutX;
  if (flow.XonXoffIn) flags |= drv::kFInX;
  if (flow.DSRSensitivity) flags |= drv::kFDsrSensitivity;
  if (flow.TxContinueOnXoff) flags |= drv::kFTXContinueOnXoff;

  dcb.Parity = ParityValue(parity.Bits);
  dcb.StopBits = StopBitsValue(line.StopBits);
  dcb.BaudRate = BaudRateValue(line.BaudRate);
  dcb.ByteSize = ByteSizeValue(line.DataBits);

  // Replacing bytes with parity errors means nothing unless parity is checked.
  if (parity.Check) {
    flags |= drv::kFParity;
    if (parity.Replace) {
      flags |= drv::kFErrorChar;
      dcb.ErrorChar = static_cast<char>(parity.ReplaceChar);
    }
  }
  dcb.Flags = flags;
  return dcb;
}

drv::CommTimeouts BuildCommTimeouts(const TimeoutValues& timeouts) {
  drv::CommTimeouts t;
  t.ReadIntervalTimeout = static_cast<std::uint32_t>(timeouts.ReadInterval);
  t.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts.ReadTotalMultiplier);
  t.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts.ReadTotalConstant);
  t.WriteTotalTimeoutMultiplier = static_cast<std::uint32_t>(timeouts.WriteTotalMultiplier);
  t.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(timeouts.WriteTotalConstant);
  return t;
}
