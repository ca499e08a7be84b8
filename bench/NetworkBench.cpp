// What a serial server costs: byte-to-handler latency and receive throughput of TComX with the
// tool's settings on a pty directly, and on the same kind of pty behind a real ser2net reached
// as rfc2217:// and as tcp://. Beside them the network path's own limit: a plain socket that
// reads ser2net's raw TCP port with poll() + read(). ser2net holds back what it reads from the
// device for a moment, to send it in fewer packets ("chardelay", on by default); these paths
// run with it off, so that what is measured is the path, and once more with ser2net's defaults,
// as a site would run it.
//
// The latency samples are taken as bench_latency takes them (ByteChain.h: the receiving code,
// OnRxChar on the main thread through the headless loop or the socket's reader, sleeps 0.5 ms
// and writes the next byte to the pty's master itself); the throughput as
// bench_throughput measures it (a writer thread fills the pty's master, OnRxChar reads Count).
// All paths run in interleaved rounds, so that a burst of load hits each alike. Exits with 77
// when ser2net is not installed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/ByteChain.h"
#include "bench/ToolPort.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "tests/e2e/Ser2net.h"

namespace {

constexpr std::size_t kChunk = 4096;

enum class Path { kDirect, kRfc2217, kRawTcp, kSocket, kRfc2217Default };
constexpr Path kPaths[] = {Path::kDirect, Path::kRfc2217, Path::kRawTcp, Path::kSocket,
                           Path::kRfc2217Default};
constexpr std::size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

const char* Key(Path p) {
  switch (p) {
    case Path::kDirect:
      return "direct";
    case Path::kRfc2217:
      return "rfc2217";
    case Path::kRawTcp:
      return "tcp";
    case Path::kSocket:
      return "socket";
    case Path::kRfc2217Default:
      return "rfc2217_default";
  }
  return "?";
}

const char* Label(Path p) {
  switch (p) {
    case Path::kDirect:
      return "TComX on the pty";
    case Path::kRfc2217:
      return "TComX, rfc2217:// via ser2net";
    case Path::kRawTcp:
      return "TComX, tcp:// via ser2net";
    case Path::kSocket:
      return "raw socket via ser2net tcp";
    case Path::kRfc2217Default:
      return "TComX, rfc2217://, ser2net defaults";
  }
  return "?";
}

// A pty, and ser2net in front of it when the path goes through one.
struct Line {
  bench::Pty pty;
  std::string dir = bench::MakeTempDir("zw-bench-net");
  std::unique_ptr<e2e::Ser2net> server;
  explicit Line(Path path) {
    if (path == Path::kDirect) return;
    const bool rfc2217 = path == Path::kRfc2217 || path == Path::kRfc2217Default;
    std::vector<std::string> options;
    if (path != Path::kRfc2217Default) options.push_back("chardelay: false");
    server = std::make_unique<e2e::Ser2net>(
        pty.SlavePath(), rfc2217 ? e2e::Ser2net::Kind::kRfc2217 : e2e::Ser2net::Kind::kRawTcp, dir,
        options);
    if (!server->Ready()) std::fprintf(stderr, "network: %s\n", server->Problem().c_str());
  }
  ~Line() {
    server.reset();
    bench::RemoveTree(dir);
  }
  bool Ready() const { return !server || server->Ready(); }
  std::string PortName() const { return server ? server->Url() : pty.SlavePath(); }
};

int ConnectSocket(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// Reads from a raw socket until `want` bytes came; false on a stall or the end.
bool ReadSocket(int fd, std::size_t want, std::vector<std::uint8_t>& buf) {
  std::size_t got = 0;
  while (got < want) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// ---- latency ----

struct Series {
  std::vector<std::int64_t> ns;
  bench::ProcessCost cost;
  int samples = 0;
  void Add(const Series& s) {
    ns.insert(ns.end(), s.ns.begin(), s.ns.end());
    cost += s.cost;
    samples += s.samples;
  }
};

Series Finished(const bench::ByteChain& chain) {
  Series s;
  if (!chain.Done()) return s;
  s.ns = chain.LatenciesNs();
  s.cost = chain.Cost();
  s.samples = static_cast<int>(s.ns.size());
  return s;
}

// The method of section 1 (ByteChain.h): the code that receives a byte answers with the next.
Series SocketLatency(Line& line, int samples, int warmup) {
  const int fd = ConnectSocket(line.server->Port());
  if (fd < 0) return {};
  std::vector<std::uint8_t> buf(64);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // ser2net opens the pty
  bench::ByteChain chain(line.pty.Master(), warmup, samples);
  chain.Start();
  while (!chain.Done() && ReadSocket(fd, 1, buf)) chain.Arrived(bench::NowNs());
  ::close(fd);
  return Finished(chain);
}

Series ComponentLatency(gui::headless::HeadlessBackend& backend, Line& line, int samples,
                        int warmup) {
  bench::ByteChain chain(line.pty.Master(), warmup, samples);
  bench::ChainThroughTheTool(backend, line.PortName(), chain, "network");
  return Finished(chain);
}

// ---- throughput ----

struct Run {
  double seconds = 0;
  std::size_t bytes = 0;
  bench::ProcessCost cost;
};

void Feed(bench::Pty& pty, std::size_t total) {
  std::vector<std::uint8_t> chunk(kChunk);
  for (std::size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<std::uint8_t>('a' + i % 26);
  for (std::size_t sent = 0; sent < total; sent += kChunk) {
    pty.WriteAll(chunk.data(), std::min(kChunk, total - sent));
  }
}

Run SocketThroughput(Line& line, std::size_t total) {
  Run run;
  const int fd = ConnectSocket(line.server->Port());
  if (fd < 0) return run;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<std::uint8_t> buf(65536);
  const auto before = bench::ProcessCost::Now();
  const std::int64_t t0 = bench::NowNs();
  std::thread writer([&] { Feed(line.pty, total); });
  while (run.bytes < total) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    run.bytes += static_cast<std::size_t>(n);
  }
  run.seconds = static_cast<double>(bench::NowNs() - t0) / 1e9;
  writer.join();
  run.cost = bench::ProcessCost::Now() - before;
  ::close(fd);
  return run;
}

Run ComponentThroughput(gui::headless::HeadlessBackend& backend, Line& line, std::size_t total) {
  const bench::ToolReceipt r = bench::ReceiveThroughTheTool(
      backend, line.PortName(), total, 0, [&] { Feed(line.pty, total); }, "network");
  return {r.seconds, r.bytes, r.cost};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (e2e::Ser2net::Program().empty()) {
    std::fprintf(stderr, "network: ser2net is not installed; nothing measured\n");
    return 77;
  }
  const bool quick = bench::QuickMode(argc, argv);
  const int samples = quick ? 40 : std::stoi(bench::Option(argc, argv, "samples", "1500"));
  const int warmup = quick ? 5 : 100;
  const std::size_t total =
      quick ? 256 * 1024 : std::stoul(bench::Option(argc, argv, "megabytes", "8")) << 20;
  const int rounds = quick ? 1 : 3;

  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);

  const Path* paths = kPaths;
  std::vector<Series> latency(kPathCount);
  std::vector<std::vector<double>> mbps(kPathCount), cpuPerMb(kPathCount);
  bool complete = true;
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t p = 0; p < kPathCount; ++p) {
      {
        Line line(paths[p]);
        if (!line.Ready()) return 1;
        const Series s = paths[p] == Path::kSocket
                             ? SocketLatency(line, samples / rounds, warmup)
                             : ComponentLatency(backend, line, samples / rounds, warmup);
        complete = complete && s.samples == samples / rounds;
        latency[p].Add(s);
      }
      {
        Line line(paths[p]);
        if (!line.Ready()) return 1;
        const Run run = paths[p] == Path::kSocket ? SocketThroughput(line, total)
                                                  : ComponentThroughput(backend, line, total);
        complete = complete && run.bytes >= total;
        const double mb = static_cast<double>(run.bytes) / 1e6;
        mbps[p].push_back(run.seconds > 0 ? mb / run.seconds : 0);
        cpuPerMb[p].push_back(mb > 0 ? static_cast<double>(run.cost.cpuNs) / 1e6 / mb : 0);
      }
    }
    std::printf("round %d of %d done\n", r + 1, rounds);
  }
  gui::App().SetBackend(nullptr);

  std::printf(
      "byte-to-handler latency (%d samples each) and receive throughput (%zu bytes, "
      "median of %d rounds)\n",
      latency[0].samples, total, rounds);
  for (std::size_t p = 0; p < kPathCount; ++p) {
    const auto q = bench::SummariseUs(latency[p].ns);
    const double wakeups =
        latency[p].samples ? static_cast<double>(latency[p].cost.wakeups) / latency[p].samples : 0;
    std::printf(
        "%-34s p50 %7.1f us  p99 %8.1f  | %4.1f wake-ups a byte | %7.1f MB/s, %6.1f ms "
        "CPU a MB\n",
        Label(paths[p]), q.p50, q.p99, wakeups, Median(mbps[p]), Median(cpuPerMb[p]));
    const std::string key = std::string("network.") + Key(paths[p]);
    bench::Result(key + ".latency.p50", q.p50, "us");
    bench::Result(key + ".latency.p99", q.p99, "us");
    bench::Result(key + ".latency.wakeups_per_byte", wakeups, "count");
    bench::Result(key + ".throughput", Median(mbps[p]), "MB/s");
    bench::Result(key + ".throughput.cpu_per_mb", Median(cpuPerMb[p]), "ms");
  }
  bench::Result("network.rounds", rounds, "count");
  bench::Result("network.samples", latency[0].samples, "count");
  bench::Result("network.bytes", static_cast<double>(total), "B");
  return complete ? 0 : 1;
}
