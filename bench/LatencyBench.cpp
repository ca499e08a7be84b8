// Byte-to-handler latency by the tool's own pattern, a request and its answer: the code that
// receives a byte (the handler, the slot, the return of a read) sleeps a gap and writes the next
// byte to the pty's master itself, as the tool answers the Box from OnRxChar (ByteChain.h). The
// paths: the raw limit (poll() + read() on one thread), the same with one hand-over to a second
// thread, TComX with OnRxChar on the watcher (smNone) and on the main thread (the tool's
// settings, smThreadSync, the headless loop), and the serial libraries a user would otherwise
// pick, each in a program of its own (Peers.h). All in interleaved rounds, so that load on the
// machine hits every path alike.
//
// The gap leaves every thread asleep between samples, so each sample pays for the wake-ups a
// byte from an idle device really costs.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "bench/ByteChain.h"
#include "bench/Peers.h"
#include "bench/ToolPort.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace {

// What the process spent on the samples; see bench::ProcessCost.
struct Cost {
  bench::ProcessCost spent;
  int samples = 0;
  void Add(const Cost& c) {
    spent += c.spent;
    samples += c.samples;
  }
};

struct Series {
  std::vector<std::int64_t> latencyNs;
  Cost cost;
  void Add(const Series& s) {
    latencyNs.insert(latencyNs.end(), s.latencyNs.begin(), s.latencyNs.end());
    cost.Add(s.cost);
  }
};

Series Finished(const bench::ByteChain& chain) {
  if (!chain.Done()) return {};
  return {chain.LatenciesNs(), {chain.Cost(), static_cast<int>(chain.LatenciesNs().size())}};
}

// One thread receives with poll() + read() and answers.
Series RawLoop(int samples, int warmup) {
  bench::Pty pty;
  const int slave = pty.OpenRawSlave();
  bench::ByteChain chain(pty.Master(), warmup, samples);
  std::uint8_t buf[64];
  chain.Start();
  while (!chain.Done()) {
    pollfd pfd{slave, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) break;
    if (read(slave, buf, sizeof buf) > 0) chain.Arrived(bench::NowNs());
  }
  return Finished(chain);
}

// The raw loop plus one hand-over: a reader thread does poll() + read() and hands each byte to
// the main thread through a condition variable; the main thread answers. What one thread hop
// costs on this machine.
Series RawWithOneHop(int samples, int warmup) {
  bench::Pty pty;
  const int slave = pty.OpenRawSlave();
  bench::ByteChain chain(pty.Master(), warmup, samples);
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  bool stop = false;
  std::thread reader([&] {
    std::uint8_t buf[64];
    for (;;) {
      pollfd pfd{slave, POLLIN, 0};
      poll(&pfd, 1, 100);
      const ssize_t n = read(slave, buf, sizeof buf);
      std::unique_lock lock(m);
      if (stop) return;
      if (n > 0) {
        ++arrived;
        lock.unlock();
        cv.notify_one();
      }
    }
  });
  int taken = 0;
  chain.Start();
  while (!chain.Done()) {
    std::unique_lock lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return arrived > taken; })) break;
    taken = arrived;
    lock.unlock();
    chain.Arrived(bench::NowNs());
  }
  {
    std::lock_guard lock(m);
    stop = true;
  }
  reader.join();
  return Finished(chain);
}

// OnRxChar on the watcher's own thread (smNone): the main thread only waits for the series to
// end.
Series ComponentOnWatcher(int samples, int warmup) {
  bench::Pty pty;
  drv::SetDeviceMapping("COM1", pty.SlavePath());
  TComX port;
  app::ConfigureCx1(port);
  port.SetSyncMethod(smNone);
  bench::ByteChain chain(pty.Master(), warmup, samples);
  port.OnRxChar = [&](TObject*, int count) {
    const std::int64_t now = bench::NowNs();
    char buf[64];
    if (count > 0 && port.Read(buf, std::min(count, 64)) > 0) chain.Arrived(now);
  };
  port.Open();
  chain.Start();
  if (!chain.WaitDone()) {
    std::fprintf(stderr, "latency: smNone stalled after %d bytes\n", chain.Arrivals());
  }
  port.Close();
  drv::ClearDeviceMappings();
  return Finished(chain);
}

// The tool's path: its settings, OnRxChar on the main thread through the headless loop.
Series ComponentLoop(gui::headless::HeadlessBackend& backend, int samples, int warmup) {
  bench::Pty pty;
  bench::ByteChain chain(pty.Master(), warmup, samples);
  bench::ChainThroughTheTool(backend, pty.SlavePath(), chain, "latency");
  return Finished(chain);
}

double WakeupsPerByte(const Cost& c) {
  return c.samples ? static_cast<double>(c.spent.wakeups) / c.samples : 0;
}
double CpuUsPerByte(const Cost& c) {
  return c.samples ? static_cast<double>(c.spent.cpuNs) / 1000.0 / c.samples : 0;
}

void Print(const std::string& what, const Series& s) {
  const auto p = bench::SummariseUs(s.latencyNs);
  std::printf(
      "%-36s p50 %7.1f us  p90 %7.1f  p99 %8.1f  min %6.1f  | %4.2f wake-ups, %5.1f us CPU a "
      "byte\n",
      what.c_str(), p.p50, p.p90, p.p99, p.min, WakeupsPerByte(s.cost), CpuUsPerByte(s.cost));
}

void Report(const std::string& key, const Series& s) {
  const auto p = bench::SummariseUs(s.latencyNs);
  const std::string k = "latency." + key;
  bench::Result(k + ".p50", p.p50, "us");
  bench::Result(k + ".p99", p.p99, "us");
  bench::Result(k + ".min", p.min, "us");
  bench::Result(k + ".wakeups_per_byte", WakeupsPerByte(s.cost), "count");
  bench::Result(k + ".cpu_per_byte", CpuUsPerByte(s.cost), "us");
}

struct Path {
  std::string key, label;
  std::function<Series(int samples, int warmup)> run;
  std::optional<bench::Peer> peer;
  Series series = {};
  bool failed = false;
  std::string skipped = {};
};

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const int samples = quick ? 50 : std::stoi(bench::Option(argc, argv, "samples", "3000"));
  const int warmup = quick ? 5 : 200;
  const int rounds = quick ? 1 : 5;
  const int perRound = samples / rounds;

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);

  std::vector<Path> paths = {
      {"raw", "raw poll()+read()", RawLoop, {}},
      {"raw_hop", "raw + 1 thread hop", RawWithOneHop, {}},
      {"watcher", "TComX OnRxChar (smNone)", ComponentOnWatcher, {}},
      {"tcomx",
       "TComX OnRxChar (main thread)",
       [&](int n, int w) { return ComponentLoop(backend, n, w); },
       {}},
  };
  for (const bench::Peer& peer : bench::LatencyPeers(argc, argv)) {
    Path p{peer.key, peer.label, {}, peer};
    p.skipped = peer.missing;
    paths.push_back(p);
  }

  // Interleaved rounds, so that a burst of load on the machine hits every path alike.
  for (int r = 0; r < rounds; ++r) {
    for (Path& p : paths) {
      if (p.failed || !p.skipped.empty()) continue;
      if (!p.peer) {
        const Series s = p.run(perRound, warmup);
        p.failed = static_cast<int>(s.latencyNs.size()) != perRound;
        p.series.Add(s);
        continue;
      }
      const bench::PeerSeries s = bench::RunLatencyPeer(*p.peer, perRound, warmup);
      p.skipped = s.skipped;
      p.failed = !s.ok && s.skipped.empty();
      p.series.Add({s.latencyNs, {s.cost, static_cast<int>(s.latencyNs.size())}});
    }
  }
  gui::App().SetBackend(nullptr);

  std::printf(
      "byte-to-handler latency, the receiver answering each byte after %lld us; %d samples "
      "a path in %d interleaved rounds\n",
      static_cast<long long>(bench::ByteChain::kGap.count()), perRound * rounds, rounds);
  bool ok = true;
  for (const Path& p : paths) {
    if (bench::SayWhyNoFigures(p.label, p.skipped, p.failed)) {
      if (p.failed) ok = false;
      continue;
    }
    Print(p.label, p.series);
    Report(p.key, p.series);
  }
  const Series& raw = paths[0].series;
  const Series& tool = paths[3].series;
  const auto rp = bench::SummariseUs(raw.latencyNs);
  const auto cp = bench::SummariseUs(tool.latencyNs);
  const auto wp = bench::SummariseUs(paths[2].series.latencyNs);
  std::printf("TComX (main thread) / raw: p50 %.2f, p99 %.2f; smNone / raw: p50 %.2f\n",
              cp.p50 / rp.p50, cp.p99 / rp.p99, wp.p50 / rp.p50);
  bench::Result("latency.samples", static_cast<double>(raw.latencyNs.size()), "count");
  bench::Result("latency.rounds", rounds, "count");
  bench::Result("latency.warmup", warmup, "count");
  bench::Result("latency.ratio.p50", cp.p50 / rp.p50, "x");
  bench::Result("latency.ratio.p99", cp.p99 / rp.p99, "x");
  bench::Result("latency.watcher_ratio.p50", wp.p50 / rp.p50, "x");
  return ok ? 0 : 1;
}
