// The peer's side of the exchange described in Peers.h, for the peers written in C++: the
// command line, and the lines it answers with.
#pragma once

#include <cstddef>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/ByteChain.h"

namespace bench {

struct PeerOptions {
  std::string mode;  // "latency" or "throughput"
  std::string slave;
  int masterFd = -1;
  int samples = 0;
  int warmup = 0;
  std::size_t bytes = 0;
};
// Exits with a message on standard error when the command line is not one of a peer's.
PeerOptions ParsePeerOptions(int argc, char** argv);

void SayReady();
void SaySkipped(const std::string& reason);
// The samples of a finished series and what they cost.
void SaySeries(const ByteChain& chain);
void SayRun(std::size_t bytes, long calls, const ProcessCost& cost);

}  // namespace bench
