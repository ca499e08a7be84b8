// The serial libraries a user would otherwise pick, measured beside the component: each is a
// program of its own (bench_peer_qt, bench_peer_libserialport, pyserial_peer.py) that the
// harness starts for one series at a time, interleaved with its own paths. Keeping them out of
// the harness's process keeps its figures (getrusage of the whole process) to the library alone,
// and keeps libserialport's pty shim away from the component's own modem-line calls.
//
// What a peer is asked and what it answers, one line each on its standard output:
//   PEER latency --master-fd 3 --slave PATH --samples N --warmup W [--variant V]
//     SAMPLE <ns>                  one a sampled byte (the method of ByteChain.h)
//     COST <wake-ups> <cpu ns>     its whole process over the samples
//   PEER throughput --slave PATH --bytes N [--variant V]
//     READY                        the port is open: the harness starts writing
//     RUN <bytes> <calls> <wake-ups> <cpu ns>
//   SKIP <reason>                  cannot be measured on this machine (exit 0)
// A peer that fails says why on standard error and exits non-zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"

namespace bench {

struct Peer {
  std::string key;    // of its RESULT lines
  std::string label;  // for a person
  std::vector<std::string> command;
  std::string missing;  // why it cannot run here; empty when it can
};

// The peers of a latency or a throughput series, found beside the harness's program (or in
// --peers DIR).
std::vector<Peer> LatencyPeers(int argc, char** argv);
std::vector<Peer> ThroughputPeers(int argc, char** argv);

// One run of a peer's program; its standard output read line by line.
class PeerProcess {
 public:
  // masterFd, when not negative, is handed to the child as its descriptor 3.
  PeerProcess(const std::vector<std::string>& command, int masterFd);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  // The next line without its newline; false at the end of the output or after timeoutMs.
  bool ReadLine(std::string& line, int timeoutMs);
  // Waits for the child to end, what it still writes read and dropped, and ends it when its
  // output stays open for 10 s more; its exit status, or -1 when a signal ended it.
  int Wait();

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string pending_;
  bool eof_ = false;
};

// A peer's latency series, as read from its output.
struct PeerSeries {
  bool ok = false;
  std::string skipped;  // the peer's reason when it said SKIP
  std::vector<std::int64_t> latencyNs;
  ProcessCost cost;
};
PeerSeries RunLatencyPeer(const Peer& peer, int samples, int warmup);

}  // namespace bench
