// The component the way the tool uses it, in a chain of answered bytes (ByteChain.h): the
// tool's settings (app::ConfigureCx1, smThreadSync), OnRxChar on the main thread through the
// headless loop, each byte read there and answered.
#pragma once

#include <string>

#include "bench/ByteChain.h"
#include "gui/headless/HeadlessBackend.h"

namespace bench {

// Runs chain through the port named portName; says on stderr, after what, when it stalls.
void ChainThroughTheTool(gui::headless::HeadlessBackend& backend, const std::string& portName,
                         ByteChain& chain, const std::string& what);

}  // namespace bench
