// Receive throughput: a writer thread pushes bytes into the pty's master as fast as the line
// takes them; the port reads them the way the tool does (OnRxChar on the main thread, then one
// Read of Count), with the tool's 1 KiB input queue and again with a 64 KiB one, to tell the
// small queue's share of the gap. Beside them, the raw limit: a poll() + read() loop on the
// slave.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
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

// inputSize: the driver's input queue (SetupComm); 0 keeps the tool's.
Run ComponentLoop(gui::headless::HeadlessBackend& backend, std::size_t total, int inputSize) {
  bench::Pty pty;
  drv::SetDeviceMapping("COM1", pty.SlavePath());
  TComX port;
  app::ConfigureCx1(port);
  if (inputSize > 0) port.Buffer().SetInputSize(inputSize);
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
  return static_cast<double>(r.cost.wakeups) / (static_cast<double>(r.bytes) / 1e6);
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

  // Each path's figures over the rounds; the medians are reported.
  struct Path {
    const char* key;
    const char* label;
    std::vector<double> mbps = {}, cpu = {}, wakeups = {}, perCall = {};
    void Add(const Run& r) {
      mbps.push_back(MBps(r));
      cpu.push_back(CpuMsPerMB(r));
      wakeups.push_back(WakeupsPerMB(r));
      perCall.push_back(static_cast<double>(r.bytes) / static_cast<double>(std::max(1L, r.calls)));
    }
  };
  Path raw{"raw", "raw poll()+read()"};
  Path tool{"tcomx", "TComX, the tool's 1 KiB queue"};
  Path big{"tcomx_64k", "TComX, a 64 KiB queue"};
  constexpr int kBigQueue = 65536;
  bool complete = true;
  for (int r = 0; r < rounds; ++r) {
    const Run a = RawLoop(total);
    const Run b = ComponentLoop(backend, total, 0);
    const Run c = ComponentLoop(backend, total, kBigQueue);
    complete = complete && a.bytes >= total && b.bytes >= total && c.bytes >= total;
    raw.Add(a);
    tool.Add(b);
    big.Add(c);
    std::printf("round %d: raw %.1f MB/s, TComX %.1f MB/s, TComX with a 64 KiB queue %.1f MB/s\n",
                r + 1, MBps(a), MBps(b), MBps(c));
  }
  gui::App().SetBackend(nullptr);

  std::printf("receive throughput over %zu bytes, median of %d rounds\n", total, rounds);
  const double rawMBps = Median(raw.mbps);
  for (const Path* p : {&raw, &tool, &big}) {
    const double mbps = Median(p->mbps);
    std::printf(
        "%-32s %7.1f MB/s = %6.0f x the 115200-baud line, %.2f x raw; %5.0f B a call, %5.1f ms "
        "CPU and %5.0f wake-ups a MB\n",
        p->label, mbps, mbps * 1e6 / kLineRate, mbps / rawMBps, Median(p->perCall), Median(p->cpu),
        Median(p->wakeups));
    const std::string key = std::string("throughput.") + p->key;
    bench::Result(key, mbps, "MB/s");
    bench::Result(key + ".line_multiple", mbps * 1e6 / kLineRate, "x");
    bench::Result(key + ".cpu_per_mb", Median(p->cpu), "ms");
    bench::Result(key + ".wakeups_per_mb", Median(p->wakeups), "count");
    bench::Result(key + ".bytes_per_call", Median(p->perCall), "B");
  }
  bench::Result("throughput.bytes", static_cast<double>(total), "B");
  bench::Result("throughput.ratio", Median(tool.mbps) / rawMBps, "x");
  bench::Result("throughput.ratio_64k", Median(big.mbps) / rawMBps, "x");
  return complete ? 0 : 1;
}
