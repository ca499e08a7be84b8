// An open port with nothing arriving costs no wake-ups: the watcher blocks in one wait.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

// Context switches of every thread of this process but the calling one.
long OtherThreadsContextSwitches() {
  const std::string self = std::to_string(gettid());
  long total = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == self) continue;
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  return total;
}

using IdleWatcherTest = PortTest;

TEST_F(IdleWatcherTest, AnIdleOpenPortSleeps) {
  OpenQuietly();
  const long before = OtherThreadsContextSwitches();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long switches = OtherThreadsContextSwitches() - before;
  EXPECT_LE(switches, 5) << "context switches in one idle second";
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 0);  // the one wait from before is still the one
}

}  // namespace
}  // namespace serial_test
