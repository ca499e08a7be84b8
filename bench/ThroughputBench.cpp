// Receive throughput: a writer thread pushes bytes into the pty's master as fast as the line
// takes them; the port reads them the way the tool does (OnRxChar on the main thread, then one
// Read of Count). Beside it, the raw limit: a poll() + read() loop on the slave.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace {

constexpr double kLineRate = 11520.0;  // bytes per second at 115200 baud, 8N1
constexpr std::size_t kChunk = 4096;

// No NUL bytes: the tool's port discards them, and the count would not add up.
std::vector<std::uint8_t> Payload() {
  std::vector<std::uint8_t> chunk(kChunk);
  for (std::size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<std::uint8_t>('a' + i % 26);
  return chunk;
}

void Feed(bench::Pty& pty, std::size_t total) {
  const auto chunk = Payload();
  for (std::size_t sent = 0; sent < total; sent += kChunk) {
    pty.WriteAll(chunk.data(), std::min(kChunk, total - sent));
  }
}

struct Run {
  double seconds = 0;
  std::size_t bytes = 0;
  long calls = 0;  // reads (raw) or OnRxChar calls
  bench::ProcessCost cost;
};

Run RawLoop(std::size_t total) {
  bench::Pty pty;
  const int slave = pty.OpenRawSlave();
  std::vector<std::uint8_t> buf(65536);
  Run run;
  const auto before = bench::ProcessCost::Now();
  const std::int64_t t0 = bench::NowNs();
  std::thread writer([&] { Feed(pty, total); });
  while (run.bytes < total) {
    pollfd pfd{slave, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) break;
    const ssize_t n = read(slave, buf.data(), buf.size());
    if (n > 0) {
      run.bytes += static_cast<std::size_t>(n);
      ++run.calls;
    }
  }
  run.seconds = static_cast<double>(bench::NowNs() - t0) / 1e9;
  writer.join();
  run.cost = bench::ProcessCost::Now() - before;
  return run;
}

Run ComponentLoop(gui::headless::HeadlessBackend& backend, std::size_t total) {
  bench::Pty pty;
  drv::SetDeviceMapping("COM1", pty.SlavePath());
  TComX port;
  app::ConfigureCx1(port);
  Run run;
  std::vector<std::uint8_t> buf;
  port.OnRxChar = [&](TObject*, int count) {
    ++run.calls;
    if (count < 1) return;
    buf.resize(static_cast<std::size_t>(count));
    run.bytes += static_cast<std::size_t>(port.Read(buf.data(), count));
  };
  port.Open();
  const auto before = bench::ProcessCost::Now();
  const std::int64_t t0 = bench::NowNs();
  std::thread writer([&] { Feed(pty, total); });
  const bool done = backend.RunUntil([&] { return run.bytes >= total; }, 120000);
  run.seconds = static_cast<double>(bench::NowNs() - t0) / 1e9;
  writer.join();
  run.cost = bench::ProcessCost::Now() - before;
  port.Close();
  drv::ClearDeviceMappings();
  if (!done) std::fprintf(stderr, "throughput: only %zu of %zu bytes arrived\n", run.bytes, total);
  return run;
}

double MBps(const Run& r) {
  return static_cast<double>(r.bytes) / r.seconds / 1e6;
}

// CPU time of the whole process (the writer included) per megabyte received.
double CpuMsPerMB(const Run& r) {
  return static_cast<double>(r.cost.cpuNs) / 1e6 / (static_cast<double>(r.bytes) / 1e6);
}
double WakeupsPerMB(const Run& r) {
  return static_cast<double>(r.cost.runs) / (static_cast<double>(r.bytes) / 1e6);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const std::size_t total =
      quick ? 256 * 1024 : std::stoul(bench::Option(argc, argv, "megabytes", "32")) << 20;
  const int rounds = quick ? 1 : 5;

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);

  std::vector<double> raw, component, rawCpu, componentCpu, rawWake, componentWake;
  double rawReadSize = 0, componentReadSize = 0;
  bool complete = true;
  for (int r = 0; r < rounds; ++r) {
    const Run a = RawLoop(total);
    const Run b = ComponentLoop(backend, total);
    complete = complete && a.bytes >= total && b.bytes >= total;
    raw.push_back(MBps(a));
    component.push_back(MBps(b));
    rawCpu.push_back(CpuMsPerMB(a));
    componentCpu.push_back(CpuMsPerMB(b));
    rawWake.push_back(WakeupsPerMB(a));
    componentWake.push_back(WakeupsPerMB(b));
    rawReadSize = static_cast<double>(a.bytes) / static_cast<double>(std::max(1L, a.calls));
    componentReadSize = static_cast<double>(b.bytes) / static_cast<double>(std::max(1L, b.calls));
    std::printf(
        "round %d: raw %.1f MB/s (%.0f B a read, %.1f ms CPU a MB), TComX %.1f MB/s (%.0f B an "
        "OnRxChar, %.1f ms CPU a MB)\n",
        r + 1, MBps(a), rawReadSize, CpuMsPerMB(a), MBps(b), componentReadSize, CpuMsPerMB(b));
  }
  gui::App().SetBackend(nullptr);

  const double rawMBps = Median(raw), compMBps = Median(component);
  std::printf("receive throughput over %zu bytes, median of %d rounds\n", total, rounds);
  std::printf("raw poll()+read()     %8.1f MB/s = %8.0f x the 115200-baud line\n", rawMBps,
              rawMBps * 1e6 / kLineRate);
  std::printf("TComX OnRxChar+Read   %8.1f MB/s = %8.0f x the 115200-baud line\n", compMBps,
              compMBps * 1e6 / kLineRate);
  std::printf("ratio TComX/raw %.2f\n", compMBps / rawMBps);

  bench::Result("throughput.bytes", static_cast<double>(total), "B");
  bench::Result("throughput.raw", rawMBps, "MB/s");
  bench::Result("throughput.tcomx", compMBps, "MB/s");
  bench::Result("throughput.raw.line_multiple", rawMBps * 1e6 / kLineRate, "x");
  bench::Result("throughput.tcomx.line_multiple", compMBps * 1e6 / kLineRate, "x");
  bench::Result("throughput.ratio", compMBps / rawMBps, "x");
  bench::Result("throughput.raw.cpu_per_mb", Median(rawCpu), "ms");
  bench::Result("throughput.tcomx.cpu_per_mb", Median(componentCpu), "ms");
  bench::Result("throughput.raw.wakeups_per_mb", Median(rawWake), "count");
  bench::Result("throughput.tcomx.wakeups_per_mb", Median(componentWake), "count");
  bench::Result("throughput.tcomx.bytes_per_call", componentReadSize, "B");
  bench::Result("throughput.raw.bytes_per_call", rawReadSize, "B");
  return complete ? 0 : 1;
}
