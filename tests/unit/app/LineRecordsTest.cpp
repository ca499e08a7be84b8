// POSIX: what keeps a line's records whole and its processes honest. A record that does not fit
// (the size limit playing a full disk) is taken back; a file that ends in a cut line is refused
// before a run; pipes take whole lines and need no flush; a dead writer's fragment is taken off
// and a record already written is found. Ports that lead to one device are refused; --worker
// is only for a line's own processes, whose program is found without /proc too; the interrupt
// watch takes SIGHUP, leaves ignored signals ignored and takes signals held back until it began.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "app/cli/CliOptions.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/LineRun.h"
#include "app/cli/RecordFile.h"
#include "app/cli/posix/WorkerSpawn.h"

namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Writes of this process are cut at the file size `limit` while it lives, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit cut = saved_;
    cut.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &cut);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

TEST(RecordTargets, ARecordThatDoesNotFitIsTakenBackAndTheNextOneIsWhole) {
  for (const bool descriptor : {false, true}) {
    SCOPED_TRACE(descriptor ? "through a held descriptor" : "by path");
    TempDir dir;
    const std::string path = dir.File("records.jsonl");
    const std::string before = "{\"n\":1}\n";
    TempDir::Write(path, before);
    std::string error;
    const int fd = cli::OpenRecordTarget(path, error);
    ASSERT_GE(fd, 0) << error;
    auto append = [&](const std::string& line, std::string& error) {
      return descriptor ? cli::AppendRecordLine(fd, path, line, error)
                        : cli::AppendRecordLine(path, line, error);
    };
    {
      FileSizeLimit full(before.size() + 100);
      EXPECT_FALSE(append("{\"n\":2,\"text\":\"" + std::string(1000, 'y') + "\"}\n", error));
    }
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_EQ(TempDir::Read(path), before) << "a fragment was left";
    error.clear();
    ASSERT_TRUE(append("{\"n\":3}\n", error)) << error;
    EXPECT_EQ(TempDir::Read(path), before + "{\"n\":3}\n");
    ::close(fd);
  }
}

TEST(RecordTargets, AFileThatEndsInACutLineIsRefusedBeforeARun) {
  TempDir dir;
  const std::string path = dir.File("records.jsonl");
  TempDir::Write(path, "{\"n\":1}\n{\"n\":2,\"te");
  std::string error;
  EXPECT_FALSE(cli::CheckRecordFile(path, error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(TempDir::Read(path), "{\"n\":1}\n{\"n\":2,\"te") << "the file is the user's to mend";
}

TEST(RecordTargets, PipesTakeWholeLinesAndNeedNoFlush) {
  TempDir dir;
  const std::string fifo = dir.File("records.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string error;
  EXPECT_FALSE(cli::CheckRecordFile(fifo, error)) << "nobody reads the pipe: refused, not hung";
  EXPECT_NE(error.find(fifo), std::string::npos) << error;

  // Larger than a pipe takes in one write.
  const std::string line = "{\"text\":\"" + std::string(200000, 'z') + "\"}\n";
  // The reader holds the pipe open both ways, so that it sees no end between two writers.
  const int readFd = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(readFd, 0);
  std::string got;
  std::thread reader([&] {
    char buffer[65536];
    while (got.size() < line.size()) {
      pollfd ready{readFd, POLLIN, 0};
      if (::poll(&ready, 1, 10000) <= 0) break;  // what was to come did not
      const ssize_t n = ::read(readFd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
  });
  error.clear();
  EXPECT_TRUE(cli::CheckRecordFile(fifo, error)) << error;
  EXPECT_TRUE(cli::AppendRecordLine(fifo, line, error)) << error;
  reader.join();
  ::close(readFd);
  EXPECT_EQ(got, line);
}

// A writer killed in the middle of its line leaves a fragment, which the next append under
// the lock takes off; and the parent of a line finds a record its dead worker had written.
TEST(RecordTargets, ADeadWritersFragmentGoesAndARecordAlreadyThereIsFound) {
  TempDir dir;
  const std::string path = dir.File("records.jsonl");
  TempDir::Write(path, "{\"port\":\"A\"}\n");
  std::string error;
  const int fd = cli::OpenRecordTarget(path, error);
  ASSERT_GE(fd, 0) << error;
  const std::uint64_t since = cli::RecordFileSize(fd);
  EXPECT_EQ(since, 13u);
  ASSERT_EQ(::write(fd, "{\"port\":\"B\",\"cut", 16), 16);
  auto isB = [](std::string_view line) { return line.find("\"port\":\"B\"") != line.npos; };
  bool there = true;
  ASSERT_TRUE(
      cli::AppendRecordLineUnlessThere(fd, path, since, isB, "{\"port\":\"C\"}\n", error, there))
      << error;
  EXPECT_FALSE(there);
  EXPECT_EQ(TempDir::Read(path), "{\"port\":\"A\"}\n{\"port\":\"C\"}\n");
  ASSERT_TRUE(cli::AppendRecordLine(fd, path, "{\"port\":\"B\"}\n", error)) << error;
  ASSERT_TRUE(cli::AppendRecordLineUnlessThere(fd, path, since, isB, "{\"port\":\"B\",\"dup\":1}\n",
                                               error, there))
      << error;
  EXPECT_TRUE(there);
  EXPECT_EQ(TempDir::Read(path), "{\"port\":\"A\"}\n{\"port\":\"C\"}\n{\"port\":\"B\"}\n");
  ::close(fd);
}

cli::CliParse Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "zanowipe-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return cli::ParseCliOptions(static_cast<int>(args.size()), argv.data());
}

// Runs with the current directory set to `dir` (where Zanowipe.ini is looked for).
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path& dir) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

TEST(LineOptions, PortsThatLeadToOneDeviceAreRefused) {
  TempDir dir;
  InDirectory here(dir.Path());
  const std::string adapter = dir.File("ttyUSB7");
  TempDir::Write(adapter, "");
  std::filesystem::create_symlink(adapter, dir.File("by-id-link"));
  TempDir::Write(dir.File("Zanowipe.ini"), "[PORTS]\nCOM3=" + adapter + "\n");
  const std::vector<std::pair<std::string, std::string>> same = {
      {adapter, adapter},
      {adapter, dir.File("by-id-link")},
      {dir.File("./ttyUSB7"), adapter},
      {"COM3", adapter},
      {"com3", "COM3"},
      {"COM1", "/dev/ttyUSB0"},
      {"rfc2217://Bench-A:3001", "tcp://bench-a:3001"},
      {"rfc2217://[::1]:3001", "TCP://[::1]:03001"},
  };
  for (const auto& [a, b] : same) {
    const cli::CliParse parsed = Parse({"--port", a, "--port", "COM8", "--port", b});
    EXPECT_FALSE(parsed.options.has_value()) << a << " and " << b;
    EXPECT_EQ(parsed.exitCode, cli::kExitUsage) << a << " and " << b;
    EXPECT_NE(parsed.message.find(a), std::string::npos) << parsed.message;
    EXPECT_NE(parsed.message.find(b), std::string::npos) << parsed.message;
  }
  const std::vector<std::pair<std::string, std::string>> apart = {
      {adapter, dir.File("ttyUSB6")},
      {"COM3", "COM4"},
      {"rfc2217://bench-a:3001", "rfc2217://bench-a:3002"},
      {"rfc2217://bench-a:3001", "rfc2217://bench-b:3001"},
  };
  for (const auto& [a, b] : apart) {
    const cli::CliParse parsed = Parse({"--port", a, "--port", b});
    EXPECT_TRUE(parsed.options.has_value()) << a << " and " << b << ": " << parsed.message;
  }
}

TEST(LineOptions, TheWorkerFlagNeedsTheParentThatStartedIt) {
  ::unsetenv(cli::kWorkerEnvironment);
  const cli::CliParse byHand = Parse({"--worker", "--port", "/dev/pts/9"});
  EXPECT_FALSE(byHand.options.has_value());
  EXPECT_EQ(byHand.exitCode, cli::kExitUsage);
  EXPECT_NE(byHand.message.find("--worker"), std::string::npos) << byHand.message;
  // Another process's number will not do.
  ::setenv(cli::kWorkerEnvironment, std::to_string(::getpid()).c_str(), 1);
  EXPECT_FALSE(Parse({"--worker", "--port", "/dev/pts/9"}).options.has_value());
  ::setenv(cli::kWorkerEnvironment, std::to_string(::getppid()).c_str(), 1);
  const cli::CliParse started = Parse({"--worker", "--port", "/dev/pts/9"});
  EXPECT_TRUE(started.options.has_value()) << started.message;
  ::unsetenv(cli::kWorkerEnvironment);
}

TEST(LineOptions, TheProgramForTheWorkersIsFoundWithoutProc) {
  const std::string program = cli::WorkerProgram("/no/proc/self/exe");
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(::access(program.c_str(), X_OK), 0) << program;
  EXPECT_EQ(std::filesystem::canonical(program), std::filesystem::canonical("/proc/self/exe"));
}

TEST(InterruptWatchSignals, HangUpInterruptsIgnoredStaysIgnoredHeldBackIsTaken) {
  // A signal that came while held back (as a worker starts) is taken once the watch is there.
  sigset_t term, saved;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &term, &saved);
  ::raise(SIGTERM);
  {
    cli::InterruptWatch watch([] {});
    EXPECT_TRUE(WaitFor([&] { return watch.Interrupted(); })) << "a held-back SIGTERM was lost";
  }
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);

  // SIGHUP: the terminal closed.
  {
    cli::InterruptWatch watch([] {});
    ::raise(SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return watch.Interrupted(); }));
  }

  // Ignored when the program started (nohup, a line's worker): left ignored.
  struct sigaction ignore {
  }, before{}, during{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGINT, &ignore, &before);
  {
    cli::InterruptWatch watch([] {});
    ::sigaction(SIGINT, nullptr, &during);
    EXPECT_EQ(during.sa_handler, SIG_IGN);
  }
  ::sigaction(SIGINT, &before, nullptr);
}

}  // namespace
