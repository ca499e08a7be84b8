// Open-erase-close cycles of the whole tool against boxsim in its fast mode, in this process,
// so that what the cycles leave behind can be watched: descriptors, threads, resident memory
// and the time each cycle takes. ZW_SOAK_CYCLES sets the number (default 30); scripts/soak.sh
// runs the long version.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/ModuleState.h"
#include "tests/faults/ProcessWatch.h"
#include "tests/faults/WindowRun.h"

extern char** environ;

namespace {

using faults::Describe;
using faults::Resources;
using faults::Snapshot;
using std::chrono::seconds;

// Bounds. A cycle is about 2.3 s of the tool's own timers (one 700 ms wake-up tick, the
// 1500 ms completion wait) plus the simulated Box's work.
constexpr double kSlowestCycleSeconds = 15.0;
constexpr long kHeapGrowthBytes = 64 * 1024;
#ifdef ZW_SANITIZED
constexpr long kResidentGrowthKb = 128 * 1024;
#else
constexpr long kResidentGrowthKb = 8 * 1024;
#endif

int Cycles() {
  const char* text = std::getenv("ZW_SOAK_CYCLES");
  const int n = text ? std::atoi(text) : 30;
  return n > 0 ? n : 30;
}

// boxsim as a child process; its first line of output is the device path.
class Boxsim {
 public:
  explicit Boxsim(const std::vector<std::string>& options) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    std::vector<std::string> args = {ZW_BOXSIM_PATH};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    stdout_ = out[0];
    stderr_ = err[0];
    fcntl(stderr_, F_SETFL, O_NONBLOCK);
    char c;
    while (read(stdout_, &c, 1) == 1 && c != '\n') device_ += c;
  }
  ~Boxsim() {
    Stop();
    if (stdout_ >= 0) close(stdout_);
    if (stderr_ >= 0) close(stderr_);
  }
  // With -v boxsim logs each time the program on the device lets go of it. The Box switches
  // off then, and the next open meets a fresh start; opening again before boxsim has seen the
  // close would meet a Box that is still on, at its prompt, saying nothing.
  bool WaitForCloses(int count, std::chrono::milliseconds limit) {
    return faults::WaitUntil(
        [&] {
          char buf[4096];
          for (ssize_t n; (n = read(stderr_, buf, sizeof buf)) > 0;) {
            log_.append(buf, static_cast<std::size_t>(n));
          }
          // Only the count is kept, so that the log does not grow with the cycles.
          static const std::string kClosed = "device closed";
          for (std::size_t at; (at = log_.find(kClosed)) != std::string::npos;) {
            ++closes_;
            log_.erase(0, at + kClosed.size());
          }
          if (log_.size() > kClosed.size()) log_.erase(0, log_.size() - kClosed.size());
          return closes_ >= count;
        },
        limit);
  }
  const std::string& Device() const { return device_; }
  int Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }
  // How it ended (128 + signal when killed); -1 when it never started.
  int Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string device_;
  std::string log_;
  int closes_ = 0;
};

int RunBoxsim(const std::vector<std::string>& options) {
  Boxsim checker(options);  // --verify-flash runs and exits
  return checker.Wait();
}

TEST(Soak, OpenEraseCloseCyclesLeaveNothingBehind) {
  faults::ScratchDir dir;
  const std::string image = dir.File("flash.img");
  Boxsim box({"--fast", "-v", "--flash", image, "--flash-init"});
  ASSERT_FALSE(box.Device().empty()) << "boxsim gave no device";

  const int threadsAtStart = Snapshot().threads;
  faults::WindowRun run;
  run.UseDevice(box.Device());
  const int cycles = Cycles();

  int closes = 0;
  auto cycle = [&](int i) -> double {
    const auto start = std::chrono::steady_clock::now();
    run.ClickOpen();
    EXPECT_TRUE(run.Form().Cx1.Connected()) << "cycle " << i;
    EXPECT_TRUE(run.Pump([&] { return run.Status() == "Receiver connected"; }, seconds(60)))
        << "cycle " << i << ": " << run.Status();
    run.ClickErase();
    EXPECT_TRUE(run.Pump([&] { return !run.Form().Cx1.Connected(); }, seconds(60)))
        << "cycle " << i << ": " << run.Status();
    EXPECT_EQ(run.StateWord(), "COMPLETE") << "cycle " << i;
    EXPECT_TRUE(run.ErrorTexts().empty()) << "cycle " << i << ": " << run.ErrorTexts().front();
    EXPECT_TRUE(run.BackgroundErrors().empty()) << "cycle " << i;
    EXPECT_TRUE(box.WaitForCloses(++closes, seconds(30))) << "cycle " << i;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  // Two cycles first: what is made once per process (thread-local storage, the first
  // allocations of each size) is not a leak.
  cycle(-2);
  cycle(-1);
  ASSERT_TRUE(faults::ThreadsBackTo(threadsAtStart)) << Describe(Snapshot());
  const Resources base = Snapshot();
  const std::size_t heapAtStart = mallinfo2().uordblks;
  Resources worst = base;
  double slowest = 0, total = 0;
  for (int i = 0; i < cycles && !HasFailure(); ++i) {
    const double took = cycle(i);
    slowest = std::max(slowest, took);
    total += took;
    ASSERT_TRUE(faults::ThreadsBackTo(base.threads))
        << "cycle " << i << ": " << Describe(Snapshot());
    const Resources now = Snapshot();
    ASSERT_EQ(now.fds, base.fds) << "cycle " << i << ": " << Describe(now);
    worst.rssKb = std::max(worst.rssKb, now.rssKb);
    ASSERT_LT(now.rssKb - base.rssKb, kResidentGrowthKb) << "cycle " << i << ": " << Describe(now);
    ASSERT_LT(took, kSlowestCycleSeconds) << "cycle " << i;
  }
  const Resources end = Snapshot();
  const long heapGrowth = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(heapAtStart);
  std::printf("soak: heap in use grew by %ld bytes (%ld a cycle)\n", heapGrowth,
              heapGrowth / cycles);
#ifndef ZW_SANITIZED
  // The allocator's own count of bytes in use: a few bytes kept per cycle would show here long
  // before they show in resident memory. (A sanitizer's allocator does not report it.)
  EXPECT_LT(heapGrowth, kHeapGrowthBytes);
#endif
  std::printf("soak: %d cycles, %.2f s mean, %.2f s slowest; start %s; end %s; highest %ld kB\n",
              cycles, total / cycles, slowest, Describe(base).c_str(), Describe(end).c_str(),
              worst.rssKb);
  RecordProperty("cycles", cycles);
  RecordProperty("slowest_ms", static_cast<int>(slowest * 1000));
  RecordProperty("rss_growth_kb", static_cast<int>(end.rssKb - base.rssKb));

  // Every cycle erased the user range, and only that.
  box.Stop();
  EXPECT_EQ(RunBoxsim({"--verify-flash", image, "--erased", "a1c00000", "a1ffffff"}), 0);
}

}  // namespace
