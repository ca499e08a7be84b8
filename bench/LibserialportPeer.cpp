// libserialport as a peer (see Peers.h): one thread that waits with sp_wait on an event set for
// RX_READY and reads with sp_nonblocking_read, the library's own way of waiting for bytes. How
// it is made to accept a pty: LibserialportShim.h.
#include <libserialport.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/LibserialportShim.h"
#include "bench/PeerMain.h"

namespace {

std::string failure;  // the first failed call, in words

bool Check(sp_return result, const char* what) {
  if (result >= SP_OK) return true;
  char* message = sp_last_error_message();
  failure = std::string(what) + " returned " + std::to_string(result);
  if (result == SP_ERR_FAIL && message) failure += " (" + std::string(message) + ")";
  sp_free_error_message(message);
  std::fprintf(stderr, "libserialport: %s\n", failure.c_str());
  return false;
}

// false when the library refused the pty or its settings, which makes the row one this machine
// cannot measure rather than a failure.
bool OpenPort(const std::string& path, sp_port** port, sp_event_set** events) {
  bench::ShimAcceptPty(path);
  return Check(sp_get_port_by_name(path.c_str(), port), "sp_get_port_by_name") &&
         Check(sp_open(*port, SP_MODE_READ_WRITE), "sp_open") &&
         Check(sp_set_baudrate(*port, 115200), "sp_set_baudrate") &&
         Check(sp_set_bits(*port, 8), "sp_set_bits") &&
         Check(sp_set_parity(*port, SP_PARITY_NONE), "sp_set_parity") &&
         Check(sp_set_stopbits(*port, 1), "sp_set_stopbits") &&
         Check(sp_set_flowcontrol(*port, SP_FLOWCONTROL_NONE), "sp_set_flowcontrol") &&
         Check(sp_new_event_set(events), "sp_new_event_set") &&
         Check(sp_add_port_events(*events, *port, SP_EVENT_RX_READY), "sp_add_port_events");
}

int Latency(sp_port* port, sp_event_set* events, const bench::PeerOptions& o) {
  const auto series = bench::MakeLatencySeries(o);
  std::uint8_t buf[64];
  series->Start();
  while (!series->Done()) {
    if (!Check(sp_wait(events, 5000), "sp_wait")) return 1;
    const sp_return n = sp_nonblocking_read(port, buf, sizeof buf);
    if (!Check(n, "sp_nonblocking_read")) return 1;
    if (n > 0) {
      series->Arrived(bench::NowNs());
    } else {
      std::fprintf(stderr, "libserialport: nothing in 5 s after %d bytes\n", series->Arrivals());
      return 1;
    }
  }
  bench::SaySeries(o, *series);
  return 0;
}

int Throughput(sp_port* port, sp_event_set* events, const bench::PeerOptions& o) {
  std::vector<std::uint8_t> buf(65536);
  std::size_t bytes = 0;
  long calls = 0;
  const auto before = bench::ProcessCost::Now();
  bench::SayReady();
  while (bytes < o.bytes) {
    if (!Check(sp_wait(events, 5000), "sp_wait")) return 1;
    const sp_return n = sp_nonblocking_read(port, buf.data(), buf.size());
    if (!Check(n, "sp_nonblocking_read")) return 1;
    if (n == 0) {
      std::fprintf(stderr, "libserialport: %zu of %zu bytes arrived\n", bytes, o.bytes);
      return 1;
    }
    bytes += static_cast<std::size_t>(n);
    ++calls;
  }
  bench::SayRun(bytes, calls, bench::ProcessCost::Now() - before);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PeerOptions o = bench::ParsePeerOptions(argc, argv);
  sp_port* port = nullptr;
  sp_event_set* events = nullptr;
  if (!OpenPort(o.slave, &port, &events)) {
    bench::SaySkipped("libserialport refused the pty: " + failure);
    return 0;
  }
  const int status = o.mode == "latency" ? Latency(port, events, o) : Throughput(port, events, o);
  sp_free_event_set(events);
  sp_close(port);
  sp_free_port(port);
  return status;
}
