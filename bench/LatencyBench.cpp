// Byte-to-handler latency: the device writes one byte; how long until OnRxChar runs on the main
// thread (smThreadSync, handlers on the headless loop). Beside it, the raw limit: one thread
// that writes the byte and waits for it with poll() + read() on the same kind of pty.
//
// Between samples every thread is left asleep for a moment, so each sample pays for the
// wake-ups a byte from an idle device really costs.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace {

constexpr auto kGap = std::chrono::microseconds(500);

// What the process spent on the samples; see bench::ProcessCost.
struct Cost {
  bench::ProcessCost spent;
  int samples = 0;
  void Add(const Cost& c) {
    spent += c.spent;
    samples += c.samples;
  }
};

class CostMeter {
 public:
  CostMeter() : start_(bench::ProcessCost::Now()) {}
  Cost Stop(int samples) const { return {bench::ProcessCost::Now() - start_, samples}; }

 private:
  bench::ProcessCost start_;
};

struct Series {
  std::vector<std::int64_t> latencyNs;
  Cost cost;
  void Add(const Series& s) {
    latencyNs.insert(latencyNs.end(), s.latencyNs.begin(), s.latencyNs.end());
    cost.Add(s.cost);
  }
};

Series RawLoop(int samples, int warmup) {
  bench::Pty pty;
  const int slave = pty.OpenRawSlave();
  std::vector<std::int64_t> lat;
  lat.reserve(static_cast<std::size_t>(samples));
  std::uint8_t buf[64];
  std::optional<CostMeter> meter;
  for (int i = 0; i < warmup + samples; ++i) {
    if (i == warmup) meter.emplace();
    std::this_thread::sleep_for(kGap);
    const std::int64_t t0 = bench::NowNs();
    pty.WriteAll("a", 1);
    for (;;) {
      pollfd pfd{slave, POLLIN, 0};
      poll(&pfd, 1, 2000);
      if (read(slave, buf, sizeof buf) > 0) break;
    }
    const std::int64_t t1 = bench::NowNs();
    if (i >= warmup) lat.push_back(t1 - t0);
  }
  return {lat, meter->Stop(samples)};
}

// The raw loop plus one hand-over: a reader thread does poll() + read() and wakes the waiting
// thread through a condition variable. What one thread hop costs on this machine.
Series RawWithOneHop(int samples, int warmup) {
  bench::Pty pty;
  const int slave = pty.OpenRawSlave();
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  bool stop = false;
  std::int64_t readAt = 0;
  std::thread reader([&] {
    std::uint8_t buf[64];
    for (;;) {
      pollfd pfd{slave, POLLIN, 0};
      poll(&pfd, 1, 100);
      const ssize_t n = read(slave, buf, sizeof buf);
      std::lock_guard lock(m);
      if (stop) return;
      if (n > 0) {
        ++arrived;
        cv.notify_one();
      }
    }
  });
  std::vector<std::int64_t> lat;
  std::optional<CostMeter> meter;
  for (int i = 0; i < warmup + samples; ++i) {
    if (i == warmup) meter.emplace();
    std::this_thread::sleep_for(kGap);
    std::unique_lock lock(m);
    const int before = arrived;
    const std::int64_t t0 = bench::NowNs();
    pty.WriteAll("a", 1);
    cv.wait(lock, [&] { return arrived > before; });
    readAt = bench::NowNs();
    if (i >= warmup) lat.push_back(readAt - t0);
  }
  const Cost cost = meter->Stop(samples);
  {
    std::lock_guard lock(m);
    stop = true;
  }
  reader.join();
  return {lat, cost};
}

// OnRxChar on the watcher's own thread (smNone): the main thread's hop left out.
Series ComponentOnWatcher(int samples, int warmup) {
  bench::Pty pty;
  drv::SetDeviceMapping("COM1", pty.SlavePath());
  TComX port;
  app::ConfigureCx1(port);
  port.SetSyncMethod(smNone);
  std::mutex m;
  std::condition_variable cv;
  std::int64_t handlerAt = 0;
  int received = 0;
  port.OnRxChar = [&](TObject*, int count) {
    const std::int64_t now = bench::NowNs();
    char buf[64];
    const int n = count > 0 ? port.Read(buf, std::min(count, 64)) : 0;
    std::lock_guard lock(m);
    if (handlerAt == 0) handlerAt = now;
    received += n;
    cv.notify_one();
  };
  port.Open();
  std::vector<std::int64_t> lat;
  std::optional<CostMeter> meter;
  for (int i = 0; i < warmup + samples; ++i) {
    if (i == warmup) meter.emplace();
    std::this_thread::sleep_for(kGap);
    std::unique_lock lock(m);
    handlerAt = 0;
    const int before = received;
    const std::int64_t t0 = bench::NowNs();
    pty.WriteAll("a", 1);
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return received > before; })) break;
    if (i >= warmup) lat.push_back(handlerAt - t0);
  }
  const Cost cost = meter ? meter->Stop(static_cast<int>(lat.size())) : Cost{};
  port.Close();
  drv::ClearDeviceMappings();
  return {lat, cost};
}

Series ComponentLoop(gui::headless::HeadlessBackend& backend, int samples, int warmup) {
  bench::Pty pty;
  drv::SetDeviceMapping("COM1", pty.SlavePath());
  TComX port;
  app::ConfigureCx1(port);  // the tool's own settings; smThreadSync
  std::int64_t handlerAt = 0;
  int received = 0;
  port.OnRxChar = [&](TObject*, int count) {
    if (handlerAt == 0) handlerAt = bench::NowNs();
    char buf[64];
    if (count > 0) received += port.Read(buf, std::min(count, 64));
  };
  port.Open();
  std::vector<std::int64_t> lat;
  lat.reserve(static_cast<std::size_t>(samples));
  std::optional<CostMeter> meter;
  for (int i = 0; i < warmup + samples; ++i) {
    if (i == warmup) meter.emplace();
    std::this_thread::sleep_for(kGap);
    handlerAt = 0;
    const int before = received;
    const std::int64_t t0 = bench::NowNs();
    pty.WriteAll("a", 1);
    if (!backend.RunUntil([&] { return received > before; }, 5000)) {
      std::fprintf(stderr, "latency: byte %d never reached OnRxChar\n", i);
      break;
    }
    if (i >= warmup) lat.push_back(handlerAt - t0);
  }
  const Cost cost = meter ? meter->Stop(static_cast<int>(lat.size())) : Cost{};
  port.Close();
  drv::ClearDeviceMappings();
  return {lat, cost};
}

double WakeupsPerByte(const Cost& c) {
  return c.samples ? static_cast<double>(c.spent.wakeups) / c.samples : 0;
}
double CpuUsPerByte(const Cost& c) {
  return c.samples ? static_cast<double>(c.spent.cpuNs) / 1000.0 / c.samples : 0;
}

void Print(const char* what, const Series& s) {
  const auto p = bench::SummariseUs(s.latencyNs);
  std::printf(
      "%-28s p50 %7.1f us  p90 %7.1f  p99 %8.1f  min %6.1f  | %4.1f wake-ups, %5.1f us CPU a "
      "byte\n",
      what, p.p50, p.p90, p.p99, p.min, WakeupsPerByte(s.cost), CpuUsPerByte(s.cost));
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const int samples = quick ? 50 : std::stoi(bench::Option(argc, argv, "samples", "3000"));
  const int warmup = quick ? 5 : 200;

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);

  // Interleaved rounds, so that a burst of load on the machine hits both alike.
  Series raw, hop, watcher, component;
  const int rounds = quick ? 1 : 5;
  for (int r = 0; r < rounds; ++r) {
    raw.Add(RawLoop(samples / rounds, warmup));
    hop.Add(RawWithOneHop(samples / rounds, warmup));
    watcher.Add(ComponentOnWatcher(samples / rounds, warmup));
    component.Add(ComponentLoop(backend, samples / rounds, warmup));
  }
  gui::App().SetBackend(nullptr);

  const auto rp = bench::SummariseUs(raw.latencyNs);
  const auto hp = bench::SummariseUs(hop.latencyNs);
  const auto wp = bench::SummariseUs(watcher.latencyNs);
  const auto cp = bench::SummariseUs(component.latencyNs);
  std::printf("byte-to-handler latency, %zu samples each\n", raw.latencyNs.size());
  Print("raw poll()+read()", raw);
  Print("raw + 1 thread hop", hop);
  Print("TComX OnRxChar (smNone)", watcher);
  Print("TComX OnRxChar (main thread)", component);
  std::printf("ratio p50 %.2f, p99 %.2f\n", cp.p50 / rp.p50, cp.p99 / rp.p99);

  bench::Result("latency.samples", static_cast<double>(raw.latencyNs.size()), "count");
  bench::Result("latency.raw.min", rp.min, "us");
  bench::Result("latency.tcomx.min", cp.min, "us");
  bench::Result("latency.raw.wakeups_per_byte", WakeupsPerByte(raw.cost), "count");
  bench::Result("latency.raw_hop.wakeups_per_byte", WakeupsPerByte(hop.cost), "count");
  bench::Result("latency.watcher.wakeups_per_byte", WakeupsPerByte(watcher.cost), "count");
  bench::Result("latency.tcomx.wakeups_per_byte", WakeupsPerByte(component.cost), "count");
  bench::Result("latency.raw.cpu_per_byte", CpuUsPerByte(raw.cost), "us");
  bench::Result("latency.watcher.cpu_per_byte", CpuUsPerByte(watcher.cost), "us");
  bench::Result("latency.tcomx.cpu_per_byte", CpuUsPerByte(component.cost), "us");
  bench::Result("latency.raw.p50", rp.p50, "us");
  bench::Result("latency.raw.p99", rp.p99, "us");
  bench::Result("latency.raw_hop.p50", hp.p50, "us");
  bench::Result("latency.raw_hop.p99", hp.p99, "us");
  bench::Result("latency.watcher.p50", wp.p50, "us");
  bench::Result("latency.watcher.p99", wp.p99, "us");
  bench::Result("latency.tcomx.p50", cp.p50, "us");
  bench::Result("latency.tcomx.p99", cp.p99, "us");
  bench::Result("latency.ratio.p50", cp.p50 / rp.p50, "x");
  bench::Result("latency.ratio.p99", cp.p99 / rp.p99, "x");
  const std::size_t n = raw.latencyNs.size();
  return component.latencyNs.size() == n && watcher.latencyNs.size() == n ? 0 : 1;
}
