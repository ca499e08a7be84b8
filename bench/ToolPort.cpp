#include "bench/ToolPort.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace bench {

void ChainThroughTheTool(gui::headless::HeadlessBackend& backend, const std::string& portName,
                         LatencySeries& chain, const std::string& what) {
  drv::SetDeviceMapping("COM1", portName);
  TComX port;
  app::ConfigureCx1(port);
  port.OnRxChar = [&](TObject*, int count) {
    const std::int64_t now = NowNs();
    char buf[64];
    if (count > 0 && port.Read(buf, std::min(count, 64)) > 0) chain.Arrived(now);
  };
  port.Open();
  chain.Start();
  if (!backend.RunUntil([&] { return chain.Done(); }, chain.BudgetMs())) {
    std::fprintf(stderr, "%s: OnRxChar on %s stalled after %d bytes\n", what.c_str(),
                 portName.c_str(), chain.Arrivals());
  }
  port.Close();
  drv::ClearDeviceMappings();
}

ToolReceipt ReceiveThroughTheTool(gui::headless::HeadlessBackend& backend,
                                  const std::string& portName, std::size_t total, int inputSize,
                                  const std::function<void()>& feed, const std::string& what) {
  drv::SetDeviceMapping("COM1", portName);
  TComX port;
  app::ConfigureCx1(port);
  if (inputSize > 0) port.Buffer().SetInputSize(inputSize);
  ToolReceipt receipt;
  std::vector<std::uint8_t> buf;
  port.OnRxChar = [&](TObject*, int count) {
    ++receipt.calls;
    if (count < 1) return;
    buf.resize(static_cast<std::size_t>(count));
    receipt.bytes += static_cast<std::size_t>(port.Read(buf.data(), count));
  };
  port.Open();
  const auto before = ProcessCost::Now();
  const std::int64_t t0 = NowNs();
  std::thread feeder(feed);
  const bool done = backend.RunUntil([&] { return receipt.bytes >= total; }, 120000);
  receipt.seconds = static_cast<double>(NowNs() - t0) / 1e9;
  feeder.join();
  receipt.cost = ProcessCost::Now() - before;
  port.Close();
  drv::ClearDeviceMappings();
  if (!done) {
    std::fprintf(stderr, "%s: only %zu of %zu bytes arrived on %s\n", what.c_str(), receipt.bytes,
                 total, portName.c_str());
  }
  return receipt;
}

}  // namespace bench
