// An open port with nothing arriving costs no wake-ups: the watcher blocks in one wait.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

std::set<std::string> ThreadIds() {
  std::set<std::string> ids;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.insert(task.path().filename().string());
  }
  return ids;
}

// Context switches of the given threads of this process so far.
long ContextSwitches(const std::set<std::string>& ids) {
  long total = 0;
  for (const std::string& id : ids) {
    std::ifstream status("/proc/self/task/" + id + "/status");
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
  // The threads the port starts (its watcher), not those of the test or of a sanitizer. A
  // sanitizer starts its own helper at the first thread creation: have that happen now.
  std::thread([] {}).join();
  const std::set<std::string> existing = ThreadIds();
  OpenQuietly();
  std::set<std::string> started;
  for (const std::string& id : ThreadIds()) {
    if (!existing.count(id)) started.insert(id);
  }
  ASSERT_FALSE(started.empty());
  const long before = ContextSwitches(started);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long switches = ContextSwitches(started) - before;
  EXPECT_LE(switches, 5) << "context switches in one idle second";
  EXPECT_EQ(fake.CountOf("WaitCommEvent"), 0);  // the one wait from before is still the one
}

}  // namespace
}  // namespace serial_test
