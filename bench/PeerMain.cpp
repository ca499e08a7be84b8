#include "bench/PeerMain.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/ArrivalLog.h"
#include "bench/ByteChain.h"

namespace bench {

PeerOptions ParsePeerOptions(int argc, char** argv) {
  PeerOptions o;
  for (int i = 1; i < argc && o.mode.empty(); ++i) {
    const std::string word = argv[i];
    if (word == "latency" || word == "throughput") o.mode = word;
  }
  o.variant = Option(argc, argv, "variant", "");
  o.slave = Option(argc, argv, "slave", "");
  o.masterFd = std::stoi(Option(argc, argv, "master-fd", "-1"));
  o.arrivalsFd = std::stoi(Option(argc, argv, "arrivals-fd", "-1"));
  o.samples = std::stoi(Option(argc, argv, "samples", "0"));
  o.warmup = std::stoi(Option(argc, argv, "warmup", "0"));
  o.bytes = std::stoul(Option(argc, argv, "bytes", "0"));
  const bool latency =
      o.mode == "latency" && (o.masterFd >= 0) != (o.arrivalsFd >= 0) && o.samples > 0;
  const bool throughput = o.mode == "throughput" && o.bytes > 0;
  if (o.slave.empty() || !(latency || throughput)) {
    std::fprintf(stderr,
                 "usage: %s latency --master-fd FD --slave PATH --samples N --warmup N\n"
                 "       %s latency --arrivals-fd FD --slave PATH --samples N --warmup N\n"
                 "       %s throughput --slave PATH --bytes N\n"
                 "(started by bench_latency and bench_throughput; see bench/Peers.h)\n",
                 argv[0], argv[0], argv[0]);
    std::exit(2);
  }
  return o;
}

std::unique_ptr<LatencySeries> MakeLatencySeries(const PeerOptions& o) {
  if (o.arrivalsFd >= 0) return std::make_unique<ArrivalLog>(o.arrivalsFd, o.warmup, o.samples);
  return std::make_unique<ByteChain>(o.masterFd, o.warmup, o.samples);
}

void SayReady() {
  std::printf("READY\n");
  std::fflush(stdout);
}

void SaySkipped(const std::string& reason) {
  std::printf("SKIP %s\n", reason.c_str());
  std::fflush(stdout);
}

void SaySeries(const PeerOptions& o, const LatencySeries& series) {
  const char* word = o.arrivalsFd >= 0 ? "ARRIVED" : "SAMPLE";
  for (const std::int64_t ns : series.Samples()) {
    std::printf("%s %lld\n", word, static_cast<long long>(ns));
  }
  std::printf("COST %ld %lld\n", series.Cost().wakeups, series.Cost().cpuNs);
  std::fflush(stdout);
}

void SayRun(std::size_t bytes, long calls, const ProcessCost& cost) {
  std::printf("RUN %zu %ld %ld %lld\n", bytes, calls, cost.wakeups, cost.cpuNs);
  std::fflush(stdout);
}

}  // namespace bench
