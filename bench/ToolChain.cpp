#include "bench/ToolChain.h"

#include <algorithm>
#include <cstdio>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace bench {

void ChainThroughTheTool(gui::headless::HeadlessBackend& backend, const std::string& portName,
                         ByteChain& chain, const std::string& what) {
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

}  // namespace bench
