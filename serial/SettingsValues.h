// The port's settings as plain values, with their defaults. The settings objects hold these,
// and the driver blocks are built from them alone (DcbBuilder), so building a block needs no
// component and no device.
#pragma once

#include <cstdint>

#include "serial/ComTypes.h"

// TComTimeouts, in milliseconds as the driver's timeouts block has them.
struct TimeoutValues {
  std::int32_t ReadInterval = -1;
  std::int32_t ReadTotalMultiplier = 0;
  std::int32_t ReadTotalConstant = 0;
  std::int32_t WriteTotalMultiplier = 100;
  std::int32_t WriteTotalConstant = 1000;
};

// TComFlowControl.
struct FlowControlValues {
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  TDTRFlowControl ControlDTR = dtrDisable;
  TRTSFlowControl ControlRTS = rtsDisable;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  std::uint8_t XonChar = 17;   // DC1
  std::uint8_t XoffChar = 19;  // DC3
};

// TComParity.
struct ParityValues {
  TParityBits Bits = prNone;
  bool Check = false;
  bool Replace = false;
  std::uint8_t ReplaceChar = 0;
};

// TComBuffer: the driver's queue sizes.
struct BufferValues {
  std::uint32_t InputSize = 1024;
  std::uint32_t OutputSize = 1024;
};

// The line settings the port holds itself, beside its settings objects.
struct PortLineValues {
  TBaudRate BaudRate = br9600;
  TStopBits StopBits = sbOneStopBit;
  TDataBits DataBits = dbEight;
  bool DiscardNull = false;
  std::uint8_t EventChar = 0;
};

// Everything the line group's block is filled from: the port's own line settings, its flow
// control and parity, and the input queue size that the XON/XOFF limits follow.
struct LineValues : PortLineValues {
  FlowControlValues FlowControl;
  ParityValues Parity;
  std::uint32_t InputSize = BufferValues{}.InputSize;
};
