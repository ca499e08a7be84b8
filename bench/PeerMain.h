// The peer's side of the exchange described in Peers.h, for the peers written in C++: the
// command line, and the lines it answers with.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/LatencySeries.h"

namespace bench {

struct PeerOptions {
  std::string mode;  // "latency" or "throughput"
  std::string variant;
  std::string slave;
  int masterFd = -1;    // the receiver answers: it writes each next byte here
  int arrivalsFd = -1;  // the bytes arrive on their own: the shared ArrivalCounter's page
  int samples = 0;
  int warmup = 0;
  std::size_t bytes = 0;
};
// Exits with a message on standard error when the command line is not one of a peer's.
PeerOptions ParsePeerOptions(int argc, char** argv);

// The latency series of the method the options name (ByteChain.h or ArrivalLog.h).
std::unique_ptr<LatencySeries> MakeLatencySeries(const PeerOptions& o);

void SayReady();
void SaySkipped(const std::string& reason);
// The samples of a finished series and what they cost.
void SaySeries(const PeerOptions& o, const LatencySeries& series);
void SayRun(std::size_t bytes, long calls, const ProcessCost& cost);

}  // namespace bench
