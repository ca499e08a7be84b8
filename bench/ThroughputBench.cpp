// Receive throughput: a writer thread pushes bytes into the pty's master as fast as the line
// takes them; the port reads them the way the tool does (OnRxChar on the main thread, then one
// Read of Count), with the tool's 1 KiB input queue and again with a 64 KiB one, to tell the
// small queue's share of the gap. Beside them, the raw limit: a poll() + read() loop on the
// slave; and the serial libraries a user would otherwise pick, each in a program of its own
// (Peers.h) fed by the same writer here.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/Peers.h"
#include "bench/ToolPort.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"

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
  const bench::ToolReceipt r = bench::ReceiveThroughTheTool(
      backend, pty.SlavePath(), total, inputSize, [&] { Feed(pty, total); }, "throughput");
  return {r.seconds, r.bytes, r.calls, r.cost};
}

// A peer's program reads the slave; the writer here plays the device as for the other paths.
// The cost is the peer's whole process and the writer's thread, as the others' is their whole
// process, writer included. nullopt when the peer cannot be measured here (skipped names why).
std::optional<Run> PeerLoop(const bench::Peer& peer, std::size_t total, std::string& skipped) {
  bench::Pty pty;
  std::vector<std::string> command = peer.command;
  for (const std::string& a : {std::string("throughput"), std::string("--slave"), pty.SlavePath(),
                               std::string("--bytes"), std::to_string(total)}) {
    command.push_back(a);
  }
  bench::PeerProcess child(command, -1);
  std::string line;
  if (!child.ReadLine(line, 30000) || line != "READY") {
    if (line.rfind("SKIP ", 0) == 0) {
      skipped = line.substr(5);
      return std::nullopt;
    }
    std::fprintf(stderr, "throughput: %s did not open its port (exit status %d)\n",
                 peer.label.c_str(), child.Wait());
    return Run{};
  }
  Run run;
  bench::ProcessCost writerCost;
  const std::int64_t t0 = bench::NowNs();
  std::thread writer([&] {
    const auto before = bench::ProcessCost::ThreadNow();
    Feed(pty, total);
    writerCost = bench::ProcessCost::ThreadNow() - before;
  });
  const bool answered = child.ReadLine(line, 120000);
  run.seconds = static_cast<double>(bench::NowNs() - t0) / 1e9;
  writer.join();
  const int status = child.Wait();
  std::istringstream in(line);
  std::string word;
  bench::ProcessCost peerCost;
  if (answered && (in >> word >> run.bytes >> run.calls >> peerCost.wakeups >> peerCost.cpuNs) &&
      word == "RUN" && status == 0) {
    run.cost = peerCost + writerCost;
  } else {
    std::fprintf(stderr, "throughput: %s ended without its figures (exit status %d)\n",
                 peer.label.c_str(), status);
    run.bytes = 0;
  }
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
  const int rounds = quick ? 1 : std::stoi(bench::Option(argc, argv, "rounds", "5"));

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);

  // Each path's figures over the rounds; the medians are reported.
  struct Path {
    std::string key;
    std::string label;
    std::function<std::optional<Run>(std::string& skipped)> run;
    std::vector<double> mbps = {}, cpu = {}, wakeups = {}, perCall = {};
    std::string skipped = {};
    bool failed = false;
    void Add(const Run& r) {
      mbps.push_back(MBps(r));
      cpu.push_back(CpuMsPerMB(r));
      wakeups.push_back(WakeupsPerMB(r));
      perCall.push_back(static_cast<double>(r.bytes) / static_cast<double>(std::max(1L, r.calls)));
    }
  };
  constexpr int kBigQueue = 65536;
  std::vector<Path> paths = {
      {"raw", "raw poll()+read()", [&](std::string&) { return RawLoop(total); }},
      {"tcomx", "TComX, the tool's 1 KiB queue",
       [&](std::string&) { return ComponentLoop(backend, total, 0); }},
      {"tcomx_64k", "TComX, a 64 KiB queue",
       [&](std::string&) { return ComponentLoop(backend, total, kBigQueue); }},
  };
  for (const bench::Peer& peer : bench::ThroughputPeers(argc, argv)) {
    Path p{peer.key, peer.label,
           [peer, total](std::string& skipped) { return PeerLoop(peer, total, skipped); }};
    p.skipped = peer.missing;
    paths.push_back(p);
  }
  // --only KEY runs one path (and the raw loop, the measure of the others): for profiling.
  const std::string only = bench::Option(argc, argv, "only", "");
  // Each round's figures also as ROUND lines, for the per-round ratios of scripts/bench.sh.
  for (int r = 1; r <= rounds; ++r) {
    std::printf("round %d:", r);
    std::string roundLines;
    for (Path& p : paths) {
      if (p.failed || !p.skipped.empty()) continue;
      if (!only.empty() && p.key != only && p.key != "raw") continue;
      const std::optional<Run> run = p.run(p.skipped);
      if (!run) continue;
      if (run->bytes < total) {
        p.failed = true;
        continue;
      }
      p.Add(*run);
      std::printf(" %s %.1f MB/s;", p.key.c_str(), MBps(*run));
      char line[512];
      std::snprintf(line, sizeof line,
                    "ROUND %d throughput.%s %.10g\nROUND %d throughput.%s.cpu_per_mb %.10g\n"
                    "ROUND %d throughput.%s.wakeups_per_mb %.10g\n",
                    r, p.key.c_str(), p.mbps.back(), r, p.key.c_str(), p.cpu.back(), r,
                    p.key.c_str(), p.wakeups.back());
      roundLines += line;
    }
    std::printf("\n%s", roundLines.c_str());
  }
  gui::App().SetBackend(nullptr);

  std::printf("receive throughput over %zu bytes, median of %d rounds\n", total, rounds);
  const double rawMBps = paths[0].failed ? 0 : Median(paths[0].mbps);
  bool complete = true;
  for (const Path& p : paths) {
    if (bench::SayWhyNoFigures(p.label, p.skipped, p.failed)) {
      if (p.failed) complete = false;
      continue;
    }
    if (p.mbps.empty()) continue;  // left out by --only
    const double mbps = Median(p.mbps);
    std::printf(
        "%-36s %7.1f MB/s = %6.0f x the 115200-baud line, %.2f x raw; %5.0f B a call, %5.1f ms "
        "CPU and %5.0f wake-ups a MB\n",
        p.label.c_str(), mbps, mbps * 1e6 / kLineRate, mbps / rawMBps, Median(p.perCall),
        Median(p.cpu), Median(p.wakeups));
    const std::string key = "throughput." + p.key;
    bench::Result(key, mbps, "MB/s");
    bench::Result(key + ".ratio", mbps / rawMBps, "x");
    bench::Result(key + ".line_multiple", mbps * 1e6 / kLineRate, "x");
    bench::Result(key + ".cpu_per_mb", Median(p.cpu), "ms");
    bench::Result(key + ".wakeups_per_mb", Median(p.wakeups), "count");
    bench::Result(key + ".bytes_per_call", Median(p.perCall), "B");
  }
  bench::Result("throughput.bytes", static_cast<double>(total), "B");
  bench::Result("throughput.rounds", rounds, "count");
  if (complete && !paths[1].mbps.empty() && !paths[2].mbps.empty()) {
    bench::Result("throughput.ratio", Median(paths[1].mbps) / rawMBps, "x");
    bench::Result("throughput.ratio_64k", Median(paths[2].mbps) / rawMBps, "x");
  }
  return complete ? 0 : 1;
}
