#include "bench/PeerMain.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

PeerOptions ParsePeerOptions(int argc, char** argv) {
  PeerOptions o;
  if (argc > 1) o.mode = argv[1];
  o.slave = Option(argc, argv, "slave", "");
  o.masterFd = std::stoi(Option(argc, argv, "master-fd", "-1"));
  o.samples = std::stoi(Option(argc, argv, "samples", "0"));
  o.warmup = std::stoi(Option(argc, argv, "warmup", "0"));
  o.bytes = std::stoul(Option(argc, argv, "bytes", "0"));
  const bool latency = o.mode == "latency" && o.masterFd >= 0 && o.samples > 0;
  const bool throughput = o.mode == "throughput" && o.bytes > 0;
  if (o.slave.empty() || !(latency || throughput)) {
    std::fprintf(stderr,
                 "usage: %s latency --master-fd FD --slave PATH --samples N --warmup N\n"
                 "       %s throughput --slave PATH --bytes N\n"
                 "(started by bench_latency and bench_throughput)\n",
                 argv[0], argv[0]);
    std::exit(2);
  }
  return o;
}

void SayReady() {
  std::printf("READY\n");
  std::fflush(stdout);
}

void SaySkipped(const std::string& reason) {
  std::printf("SKIP %s\n", reason.c_str());
  std::fflush(stdout);
}

void SaySeries(const ByteChain& chain) {
  for (const std::int64_t ns : chain.LatenciesNs()) {
    std::printf("SAMPLE %lld\n", static_cast<long long>(ns));
  }
  std::printf("COST %ld %lld\n", chain.Cost().wakeups, chain.Cost().cpuNs);
  std::fflush(stdout);
}

void SayRun(std::size_t bytes, long calls, const ProcessCost& cost) {
  std::printf("RUN %zu %ld %ld %lld\n", bytes, calls, cost.wakeups, cost.cpuNs);
  std::fflush(stdout);
}

}  // namespace bench
