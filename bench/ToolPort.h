// The component the way the tool uses it, for the benchmarks: the tool's settings
// (app::ConfigureCx1, smThreadSync), OnRxChar on the main thread through the headless loop.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/LatencySeries.h"
#include "gui/headless/HeadlessBackend.h"

namespace bench {

// Runs a latency series (LatencySeries.h: answered bytes, or bytes that arrive on their own)
// through the port named portName, each byte read in OnRxChar; says on stderr, after what, when
// it stalls.
void ChainThroughTheTool(gui::headless::HeadlessBackend& backend, const std::string& portName,
                         LatencySeries& chain, const std::string& what);

struct ToolReceipt {
  double seconds = 0;
  std::size_t bytes = 0;
  long calls = 0;    // OnRxChar calls
  ProcessCost cost;  // the whole process's, the feeding thread's included
};

// Receives total bytes through the port named portName, reading Count in each OnRxChar, while
// feed runs on a thread of its own; inputSize 0 keeps the tool's input queue. Says on stderr,
// after what, when fewer arrive.
ToolReceipt ReceiveThroughTheTool(gui::headless::HeadlessBackend& backend,
                                  const std::string& portName, std::size_t total, int inputSize,
                                  const std::function<void()>& feed, const std::string& what);

}  // namespace bench
