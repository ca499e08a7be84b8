// The latency paths of this project as a peer (see Peers.h), each in a process of its own like
// the libraries', so that every path's figures are its own process's and the device side can
// watch that process's threads (IndependentDevice.h):
//   --variant raw      the limit: one thread, poll() + read() on the slave;
//   --variant raw_hop  the same with one hand-over: a reader thread polls and reads and hands
//                      each byte to the main thread through a condition variable, where it is
//                      seen; what one thread hop adds to the limit on this machine;
//   --variant watcher  TComX, OnRxChar on the watcher's own thread (smNone);
//   --variant tcomx    TComX with the tool's settings (smThreadSync), OnRxChar on the main
//                      thread through the headless loop: the tool's path.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "app/Form1Layout.h"
#include "bench/BenchSupport.h"
#include "bench/PeerMain.h"
#include "bench/ToolPort.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "serial/driver/DeviceMap.h"

namespace {

bool RawLoop(const std::string& slavePath, bench::LatencySeries& series) {
  const int slave = bench::OpenRawTty(slavePath);
  std::uint8_t buf[64];
  series.Start();
  while (!series.Done()) {
    pollfd pfd{slave, POLLIN, 0};
    if (poll(&pfd, 1, 5000) <= 0) break;
    if (read(slave, buf, sizeof buf) > 0) series.Arrived(bench::NowNs());
  }
  close(slave);
  return series.Done();
}

bool RawWithOneHop(const std::string& slavePath, bench::LatencySeries& series) {
  const int slave = bench::OpenRawTty(slavePath);
  // The reader sleeps in poll() with no time-out, as the raw loop does; this ends it.
  const int stop = eventfd(0, EFD_CLOEXEC);
  std::mutex m;
  std::condition_variable cv;
  int arrived = 0;
  std::thread reader([&] {
    std::uint8_t buf[64];
    for (;;) {
      pollfd pfds[2] = {{slave, POLLIN, 0}, {stop, POLLIN, 0}};
      poll(pfds, 2, -1);
      if (pfds[1].revents != 0) return;
      if (read(slave, buf, sizeof buf) <= 0) continue;
      {
        std::lock_guard lock(m);
        ++arrived;
      }
      cv.notify_one();
    }
  });
  int taken = 0;
  series.Start();
  while (!series.Done()) {
    std::unique_lock lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return arrived > taken; })) break;
    taken = arrived;
    lock.unlock();
    series.Arrived(bench::NowNs());
  }
  const std::uint64_t one = 1;
  if (write(stop, &one, sizeof one) != sizeof one) std::perror("eventfd");
  reader.join();
  close(stop);
  close(slave);
  return series.Done();
}

// The main thread only waits for the series to end.
bool ComponentOnWatcher(const std::string& slavePath, bench::LatencySeries& series) {
  drv::SetDeviceMapping("COM1", slavePath);
  TComX port;
  app::ConfigureCx1(port);
  port.SetSyncMethod(smNone);
  port.OnRxChar = [&](TObject*, int count) {
    const std::int64_t now = bench::NowNs();
    char buf[64];
    if (count > 0 && port.Read(buf, std::min(count, 64)) > 0) series.Arrived(now);
  };
  port.Open();
  series.Start();
  const bool done = series.WaitDone();
  if (!done) std::fprintf(stderr, "smNone stalled after %d bytes\n", series.Arrivals());
  port.Close();
  drv::ClearDeviceMappings();
  return done;
}

bool ComponentLoop(const std::string& slavePath, bench::LatencySeries& series) {
  rt::MarkMainThread();
  gui::headless::HeadlessBackend backend(false);
  gui::App().SetBackend(&backend);
  bench::ChainThroughTheTool(backend, slavePath, series, "latency");
  gui::App().SetBackend(nullptr);
  return series.Done();
}

}  // namespace

int main(int argc, char** argv) {
  const bench::PeerOptions o = bench::ParsePeerOptions(argc, argv);
  const auto series = bench::MakeLatencySeries(o);
  bool done = false;
  if (o.mode != "latency") {
    std::fprintf(stderr, "%s measures latency only\n", argv[0]);
    return 2;
  } else if (o.variant == "raw") {
    done = RawLoop(o.slave, *series);
  } else if (o.variant == "raw_hop") {
    done = RawWithOneHop(o.slave, *series);
  } else if (o.variant == "watcher") {
    done = ComponentOnWatcher(o.slave, *series);
  } else if (o.variant == "tcomx") {
    done = ComponentLoop(o.slave, *series);
  } else {
    std::fprintf(stderr, "%s: no variant '%s'\n", argv[0], o.variant.c_str());
    return 2;
  }
  if (!done) {
    std::fprintf(stderr, "%s: %d bytes of the series arrived\n", o.variant.c_str(),
                 series->Arrivals());
    return 1;
  }
  bench::SaySeries(o, *series);
  return 0;
}
