#include "bench/IndependentDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "bench/BenchSupport.h"

namespace bench {

namespace {

using std::chrono::microseconds;

constexpr std::int64_t kStallNs = 5'000'000'000;

// A small /proc file read whole with plain system calls: this runs between every two bytes.
bool ReadSmall(const std::string& path, char* buf, std::size_t size) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = read(fd, buf, size - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  return true;
}

}  // namespace

std::vector<TaskState> TaskStates(int pid) {
  std::vector<TaskState> tasks;
  const std::string dirPath = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(dirPath.c_str());
  if (!dir) return tasks;
  char buf[1024];
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string base = dirPath + "/" + entry->d_name;
    TaskState t;
    t.tid = std::atoi(entry->d_name);
    // "tid (comm) S ...": the name may hold spaces and parentheses, the state follows the last.
    if (!ReadSmall(base + "/stat", buf, sizeof buf)) continue;
    const char* nameEnd = std::strrchr(buf, ')');
    if (!nameEnd || nameEnd[1] != ' ') continue;
    t.state = nameEnd[2];
    if (!ReadSmall(base + "/schedstat", buf, sizeof buf)) continue;
    long long onCpu = 0, waiting = 0;
    if (std::sscanf(buf, "%lld %lld %ld", &onCpu, &waiting, &t.runs) != 3) continue;
    tasks.push_back(t);
  }
  closedir(dir);
  std::sort(tasks.begin(), tasks.end(),
            [](const TaskState& a, const TaskState& b) { return a.tid < b.tid; });
  return tasks;
}

bool AsleepThroughout(const std::vector<TaskState>& before, const std::vector<TaskState>& after) {
  if (before.empty() || before.size() != after.size()) return false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    const TaskState& b = before[i];
    const TaskState& a = after[i];
    if (a.tid != b.tid || a.state != 'S' || b.state != 'S' || a.runs != b.runs) return false;
  }
  return true;
}

IndependentRun SendOnTheirOwn(int pid, int master, const ArrivalCounter& seen, int total,
                              microseconds quiet) {
  IndependentRun run;
  run.sentNs.reserve(static_cast<std::size_t>(total));
  const auto stalled = [&](std::int64_t since, const char* what) {
    if (NowNs() - since < kStallNs) return false;
    run.failure = std::string(what) + " for 5 s after " + std::to_string(seen.Load()) + " of " +
                  std::to_string(total) + " bytes";
    return true;
  };
  for (int i = 0; i <= total; ++i) {
    const std::int64_t since = NowNs();
    while (seen.Load() < i) {
      if (stalled(since, "the receiving code saw no byte")) return run;
      std::this_thread::sleep_for(microseconds(50));
    }
    if (i == total) break;
    for (;;) {
      if (stalled(since, "the receiving process was never asleep for the quiet time")) return run;
      const std::vector<TaskState> before = TaskStates(pid);
      // A thread still busy with the last byte: look again soon rather than a quiet time later.
      if (!AsleepThroughout(before, before)) {
        std::this_thread::sleep_for(microseconds(50));
        continue;
      }
      std::this_thread::sleep_for(quiet);
      if (AsleepThroughout(before, TaskStates(pid))) break;
    }
    run.sentNs.push_back(NowNs());
    WriteAllTo(master, "a", 1);
    // Still while the byte travels, as a device is: looking for it at once would put this
    // process on a processor again and again while the receiver's threads wake on the two.
    std::this_thread::sleep_for(quiet);
  }
  return run;
}

}  // namespace bench
