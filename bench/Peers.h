// The serial libraries a user would otherwise pick, measured beside the component, and the
// component's own latency paths: each is a program of its own (bench_peer_qt,
// bench_peer_libserialport, pyserial_peer.py, bench_peer_own) that the harness starts for one
// series at a time, interleaved with the others. Keeping them out of the harness's process keeps
// each one's figures (getrusage of the whole process) to the path alone, lets the device side
// watch its threads, and keeps libserialport's pty shim away from the component's own
// modem-line calls.
//
// What a peer is asked and what it answers, one line each on its standard output:
//   PEER latency --master-fd 3 --slave PATH --samples N --warmup W [--variant V]
//     the receiver answers (ByteChain.h): descriptor 3 is the pty's master
//     SAMPLE <ns>                  one a sampled byte, its latency
//     COST <wake-ups> <cpu ns>     its whole process over the samples
//   PEER latency --arrivals-fd 3 --slave PATH --samples N --warmup W [--variant V]
//     the bytes arrive on their own (ArrivalLog.h, IndependentDevice.h): descriptor 3 is the
//     page of the shared ArrivalCounter
//     READY                        the receiving code is in place: the device side may send
//     ARRIVED <ns>                 one a sampled byte, when it reached the receiving code
//     COST <wake-ups> <cpu ns>
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

// How the bytes of a latency series come: answered by the receiving code, or on their own.
enum class Method { kAnswer, kIndependent };

// The paths of a latency series (this project's own first, then the libraries) or the peers
// of a throughput series, found beside the harness's program (or in --peers DIR).
std::vector<Peer> LatencyPeers(int argc, char** argv);
std::vector<Peer> ThroughputPeers(int argc, char** argv);

// One run of a peer's program; its standard output read line by line.
class PeerProcess {
 public:
  // fd, when not negative, is handed to the child as its descriptor 3.
  PeerProcess(const std::vector<std::string>& command, int fd);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  // The next line without its newline; false at the end of the output or after timeoutMs.
  bool ReadLine(std::string& line, int timeoutMs);
  // Waits for the child to end, what it still writes read and dropped, and ends it when its
  // output stays open for 10 s more; its exit status, or -1 when a signal ended it.
  int Wait();
  int Pid() const { return pid_; }

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
PeerSeries RunLatencyPeer(const Peer& peer, Method method, int samples, int warmup);

}  // namespace bench
