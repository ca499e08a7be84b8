// The DCB builder driven by random setter sequences. Two ports take the same steps: one never
// opened (no driver involved), one open on the byte-level fake driver, where every change must
// reach the driver at once. After every step:
// - no flag bit outside the defined ones, fBinary always set;
// - XonLim = XoffLim = InputSize >> 2, low 16 bits;
// - fParity exactly when Check; fErrorChar and ErrorChar only with Check and Replace;
// - framing fields from the enumerations' tables (0 for a value outside one);
// - the open port's driver holds the block, the timeouts and the queue sizes just built
//   (XonLim/XoffLim as of the last line apply: a queue size change alone makes no line apply);
// - a third port given the first one's settings objects builds the same block.
#include <cstdint>
#include <cstring>

#include "serial/CportX1.h"
#include "serial/DcbBuilder.h"
#include "tests/fakes/FakeCommDriver.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

constexpr std::uint32_t kDefinedFlags =
    drv::kFBinary | drv::kFParity | drv::kFOutxCtsFlow | drv::kFOutxDsrFlow |
    drv::kFDtrControlMask | drv::kFDsrSensitivity | drv::kFTXContinueOnXoff | drv::kFOutX |
    drv::kFInX | drv::kFErrorChar | drv::kFNull | drv::kFRtsControlMask | drv::kFAbortOnError;

// One setter, chosen and valued by the input; enumerations get any byte, in range or not.
void Step(TComX& port, std::uint8_t op, fuzz::FuzzInput& in) {
  const std::uint8_t b = in.Byte();
  switch (op % 27) {
    case 0:
      port.SetBaudRate(static_cast<TBaudRate>(b % 16));
      break;
    case 1:
      port.SetStopBits(static_cast<TStopBits>(b % 5));
      break;
    case 2:
      port.SetDataBits(static_cast<TDataBits>(b % 6));
      break;
    case 3:
      port.SetDiscardNull(b & 1);
      break;
    case 4:
      port.SetEventChar(b);
      break;
    case 5:
      port.Parity().SetBits(static_cast<TParityBits>(b % 7));
      break;
    case 6:
      port.Parity().SetCheck(b & 1);
      break;
    case 7:
      port.Parity().SetReplace(b & 1);
      break;
    case 8:
      port.Parity().SetReplaceChar(b);
      break;
    case 9:
      port.FlowControl().SetOutCTSFlow(b & 1);
      break;
    case 10:
      port.FlowControl().SetOutDSRFlow(b & 1);
      break;
    case 11:
      port.FlowControl().SetControlDTR(static_cast<TDTRFlowControl>(b % 5));
      break;
    case 12:
      port.FlowControl().SetControlRTS(static_cast<TRTSFlowControl>(b % 6));
      break;
    case 13:
      port.FlowControl().SetXonXoffOut(b & 1);
      break;
    case 14:
      port.FlowControl().SetXonXoffIn(b & 1);
      break;
    case 15:
      port.FlowControl().SetDSRSensitivity(b & 1);
      break;
    case 16:
      port.FlowControl().SetTxContinueOnXoff(b & 1);
      break;
    case 17:
      port.FlowControl().SetXonChar(b);
      break;
    case 18:
      port.FlowControl().SetXoffChar(b);
      break;
    case 19:
      port.Buffer().SetInputSize((static_cast<std::uint32_t>(b) << 24) | in.U32() >> 8);
      break;
    case 20:
      port.Buffer().SetOutputSize(in.U32());
      break;
    case 21:
      port.Timeouts().SetReadInterval(static_cast<std::int32_t>(in.U32()));
      break;
    case 22:
      port.Timeouts().SetReadTotalMultiplier(static_cast<std::int32_t>(in.U32()));
      break;
    case 23:
      port.Timeouts().SetReadTotalConstant(static_cast<std::int32_t>(in.U32()));
      break;
    case 24:
      port.Timeouts().SetWriteTotalMultiplier(static_cast<std::int32_t>(in.U32()));
      break;
    case 25:
      port.Timeouts().SetWriteTotalConstant(static_cast<std::int32_t>(in.U32()));
      break;
    case 26: {
      // Writing an object-valued property copies a foreign object's values in.
      TComParity other;
      other.SetBits(static_cast<TParityBits>(b % 5));
      other.SetCheck(b & 0x10);
      other.SetReplace(b & 0x20);
      other.SetReplaceChar(in.Byte());
      port.SetParity(&other);
      break;
    }
  }
}

void CheckBlock(const TComX& port, const drv::Dcb& dcb, std::size_t step) {
  FUZZ_CHECK((dcb.Flags & ~kDefinedFlags) == 0, "step %zu: flags %08x", step, dcb.Flags);
  FUZZ_CHECK(dcb.Flags & drv::kFBinary, "step %zu: fBinary missing", step);
  const auto limit = static_cast<std::uint16_t>((port.Buffer().InputSize() >> 2) & 0xFFFF);
  FUZZ_CHECK(dcb.XonLim == limit && dcb.XoffLim == limit,
             "step %zu: InputSize %u gives XonLim %u XoffLim %u", step, port.Buffer().InputSize(),
             dcb.XonLim, dcb.XoffLim);
  const TComParity& p = port.Parity();
  FUZZ_CHECK(((dcb.Flags & drv::kFParity) != 0) == p.Check(), "step %zu: fParity vs Check %d", step,
             p.Check());
  const bool replacing = p.Check() && p.Replace();
  FUZZ_CHECK(((dcb.Flags & drv::kFErrorChar) != 0) == replacing,
             "step %zu: fErrorChar with Check %d Replace %d", step, p.Check(), p.Replace());
  FUZZ_CHECK(static_cast<std::uint8_t>(dcb.ErrorChar) == (replacing ? p.ReplaceChar() : 0),
             "step %zu: ErrorChar %02x with Check %d Replace %d ReplaceChar %02x", step,
             static_cast<std::uint8_t>(dcb.ErrorChar), p.Check(), p.Replace(), p.ReplaceChar());
  FUZZ_CHECK(((dcb.Flags & drv::kFNull) != 0) == port.DiscardNull(), "step %zu: fNull", step);
  FUZZ_CHECK(dcb.BaudRate == BaudRateValue(port.BaudRate()) &&
                 dcb.Parity == ParityValue(p.Bits()) &&
                 dcb.ByteSize == ByteSizeValue(port.DataBits()) &&
                 dcb.StopBits == StopBitsValue(port.StopBits()),
             "step %zu: framing fields", step);
  FUZZ_CHECK(dcb.DCBlength == sizeof(drv::Dcb), "step %zu: DCBlength %u", step, dcb.DCBlength);
  FUZZ_CHECK(static_cast<std::uint8_t>(dcb.EvtChar) == port.EventChar() &&
                 static_cast<std::uint8_t>(dcb.XonChar) == port.FlowControl().XonChar() &&
                 static_cast<std::uint8_t>(dcb.XoffChar) == port.FlowControl().XoffChar(),
             "step %zu: characters", step);
}

bool SameBlock(const drv::Dcb& a, const drv::Dcb& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameTimeouts(const drv::CommTimeouts& a, const drv::CommTimeouts& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  TComX closed;  // the platform's driver, never called: the port is never opened

  fake::FakeCommDriver driver;
  driver.AddDevice("COM1");
  TComX open(&driver);
  open.SetEvents(TEvents{});  // no watcher thread: the fake's calls stay the setters' own
  open.Open();
  int lineApplies = driver.CountOf("SetCommState");

  for (std::size_t step = 0; !in.Empty() && step < 256; ++step) {
    const std::uint8_t op = in.Byte();
    // Both ports take the same step from the same bytes.
    fuzz::FuzzInput again = in;
    Step(closed, op, in);
    Step(open, op, again);

    const drv::Dcb dcb = BuildDcb(closed.LineSettings());
    CheckBlock(closed, dcb, step);
    FUZZ_CHECK(SameBlock(dcb, BuildDcb(closed.LineSettings())), "step %zu: a second build differs",
               step);
    // A queue size change reaches the driver through SetupComm alone: the limits that derive
    // from it follow at the next line apply.
    drv::Dcb held = driver.LastCall("SetCommState").dcb;
    const bool lineApplied = driver.CountOf("SetCommState") != lineApplies;
    lineApplies = driver.CountOf("SetCommState");
    FUZZ_CHECK(!lineApplied || SameBlock(held, dcb),
               "step %zu: the open port's driver holds another block", step);
    held.XonLim = dcb.XonLim;
    held.XoffLim = dcb.XoffLim;
    FUZZ_CHECK(SameBlock(held, dcb), "step %zu: a line setting did not reach the driver", step);
    FUZZ_CHECK(SameTimeouts(driver.LastCall("SetCommTimeouts").timeouts,
                            BuildCommTimeouts(closed.Timeouts().Values())),
               "step %zu: the open port's driver holds other timeouts", step);
    const fake::FakeCall setup = driver.LastCall("SetupComm");
    FUZZ_CHECK(setup.args.size() == 2 && setup.args[0] == closed.Buffer().InputSize() &&
                   setup.args[1] == closed.Buffer().OutputSize(),
               "step %zu: the open port's driver holds other queue sizes", step);
  }

  TComX copy;
  copy.SetBaudRate(closed.BaudRate());
  copy.SetStopBits(closed.StopBits());
  copy.SetDataBits(closed.DataBits());
  copy.SetDiscardNull(closed.DiscardNull());
  copy.SetEventChar(closed.EventChar());
  copy.SetParity(&closed.Parity());
  copy.SetFlowControl(&closed.FlowControl());
  copy.SetBuffer(&closed.Buffer());
  copy.SetTimeouts(&closed.Timeouts());
  FUZZ_CHECK(SameBlock(BuildDcb(copy.LineSettings()), BuildDcb(closed.LineSettings())),
             "copied settings build another block");
  FUZZ_CHECK(SameTimeouts(BuildCommTimeouts(copy.Timeouts().Values()),
                          BuildCommTimeouts(closed.Timeouts().Values())),
             "copied settings build other timeouts");
  open.Close();
  return 0;
}
