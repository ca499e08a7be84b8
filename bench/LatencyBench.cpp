// Byte-to-handler latency, two ways (Peers.h, for each path's program):
//  - the receiver answering, the tool's pattern when it answers the Box (ByteChain.h): the code
//    that receives a byte sleeps a gap and writes the next byte to the pty's master itself;
//  - the bytes arriving on their own, the tool's pattern with a Box that talks by itself
//    (IndependentDevice.h): the device side, this program, writes each byte once every thread
//    of the receiving process has been asleep for the quiet time, and the receiving code notes
//    when it saw it.
// The paths: the raw limit (poll() + read() on one thread), the same with one hand-over to a
// second thread, TComX with OnRxChar on the watcher (smNone) and on the main thread (the tool's
// settings, smThreadSync), and the serial libraries a user would otherwise pick; each path a
// fresh process of its own for each series. All in interleaved rounds, so that load on the
// machine hits every path alike; each round's figures are printed as ROUND lines, from which
// scripts/bench.sh takes its per-round ratios.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/ByteChain.h"
#include "bench/IndependentDevice.h"
#include "bench/Peers.h"

namespace {

using bench::Method;

struct Series {
  std::vector<std::int64_t> latencyNs;
  bench::ProcessCost cost;
  void Add(const Series& s) {
    latencyNs.insert(latencyNs.end(), s.latencyNs.begin(), s.latencyNs.end());
    cost += s.cost;
  }
  double WakeupsPerByte() const {
    return latencyNs.empty() ? 0 : static_cast<double>(cost.wakeups) / latencyNs.size();
  }
  double CpuUsPerByte() const {
    return latencyNs.empty() ? 0 : static_cast<double>(cost.cpuNs) / 1000.0 / latencyNs.size();
  }
};

int Index(Method m) {
  return m == Method::kAnswer ? 0 : 1;
}

const char* KeyOf(Method m) {
  return m == Method::kAnswer ? "answer" : "independent";
}

void Print(const std::string& what, const Series& s) {
  const auto p = bench::SummariseUs(s.latencyNs);
  std::printf(
      "%-36s p50 %7.1f us  p90 %7.1f  p99 %8.1f  min %6.1f  | %4.2f wake-ups, %5.1f us CPU a "
      "byte\n",
      what.c_str(), p.p50, p.p90, p.p99, p.min, s.WakeupsPerByte(), s.CpuUsPerByte());
}

// The figures of one path, one method: over the whole run (RESULT) or one round (ROUND).
void Report(const std::string& prefix, const Series& s, int round) {
  const auto p = bench::SummariseUs(s.latencyNs);
  const auto say = [&](const std::string& figure, double value, const char* unit) {
    if (round > 0) {
      std::printf("ROUND %d %s.%s %.10g\n", round, prefix.c_str(), figure.c_str(), value);
    } else {
      bench::Result(prefix + "." + figure, value, unit);
    }
  };
  say("p50", p.p50, "us");
  say("p90", p.p90, "us");
  say("p99", p.p99, "us");
  say("min", p.min, "us");
  say("wakeups_per_byte", s.WakeupsPerByte(), "count");
  say("cpu_per_byte", s.CpuUsPerByte(), "us");
}

struct Path {
  bench::Peer peer;
  Series series[2] = {};  // by method
  bool failed = false;
  std::string skipped = {};
};

void PrintRatios(Method m, const std::vector<Path>& paths) {
  // The first four are this project's own: raw, raw + hop, smNone, the tool's path.
  const auto p50 = [&](int i) {
    return bench::SummariseUs(paths[static_cast<std::size_t>(i)].series[Index(m)].latencyNs).p50;
  };
  for (int i = 0; i < 4; ++i) {
    if (p50(i) <= 0) return;
  }
  std::printf("%s: the tool's path / raw p50 %.2f, / raw + 1 hop %.2f; smNone / raw p50 %.2f\n",
              KeyOf(m), p50(3) / p50(0), p50(3) / p50(1), p50(2) / p50(0));
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = bench::QuickMode(argc, argv);
  const int samples = quick ? 50 : std::stoi(bench::Option(argc, argv, "samples", "3000"));
  const int warmup = quick ? 5 : 200;
  const int rounds = quick ? 1 : std::stoi(bench::Option(argc, argv, "rounds", "5"));
  const int perRound = samples / rounds;

  // --only KEY[,KEY...] runs those paths alone (no ratios then): for profiling.
  const std::vector<std::string> only = bench::SplitList(bench::Option(argc, argv, "only", ""));
  std::vector<Path> paths;
  for (const bench::Peer& peer : bench::LatencyPeers(argc, argv)) {
    if (!only.empty() && std::find(only.begin(), only.end(), peer.key) == only.end()) continue;
    paths.push_back({peer});
    paths.back().skipped = peer.missing;
  }
  // --method answer|independent runs one method alone, likewise.
  const std::string method = bench::Option(argc, argv, "method", "");
  std::vector<Method> methods;
  if (method != "independent") methods.push_back(Method::kAnswer);
  if (method != "answer") methods.push_back(Method::kIndependent);

  // Interleaved rounds, so that a burst of load on the machine hits every path alike.
  for (int r = 1; r <= rounds; ++r) {
    for (Path& p : paths) {
      for (const Method m : methods) {
        if (p.failed || !p.skipped.empty()) continue;
        const bench::PeerSeries s = bench::RunLatencyPeer(p.peer, m, perRound, warmup);
        p.skipped = s.skipped;
        p.failed = !s.ok && s.skipped.empty();
        if (!s.ok) continue;
        const Series round{s.latencyNs, s.cost};
        p.series[Index(m)].Add(round);
        Report("latency." + std::string(KeyOf(m)) + "." + p.peer.key, round, r);
      }
    }
  }

  std::printf("byte-to-handler latency, %d samples a path and method in %d interleaved rounds\n",
              perRound * rounds, rounds);
  bool ok = true;
  for (const Method m : methods) {
    if (m == Method::kAnswer) {
      std::printf(
          "the receiver answering: each byte written by the receiving code %lld us after "
          "the last one reached it\n",
          static_cast<long long>(bench::ByteChain::kGap.count()));
    } else {
      std::printf(
          "bytes arriving on their own: each written once every thread of the receiving "
          "process had been asleep for %lld us\n",
          static_cast<long long>(bench::kQuietTime.count()));
    }
    for (const Path& p : paths) {
      if (bench::SayWhyNoFigures(p.peer.label, p.skipped, p.failed)) {
        if (p.failed) ok = false;
        continue;
      }
      Print(p.peer.label, p.series[Index(m)]);
      Report("latency." + std::string(KeyOf(m)) + "." + p.peer.key, p.series[Index(m)], 0);
    }
  }
  if (ok && only.empty()) {
    for (const Method m : methods) PrintRatios(m, paths);
  }
  bench::Result("latency.samples", perRound * rounds, "count");
  bench::Result("latency.rounds", rounds, "count");
  bench::Result("latency.warmup", warmup, "count");
  bench::Result("latency.gap_us", static_cast<double>(bench::ByteChain::kGap.count()), "us");
  bench::Result("latency.quiet_us", static_cast<double>(bench::kQuietTime.count()), "us");
  return ok ? 0 : 1;
}
