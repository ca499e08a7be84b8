#include "bench/Peers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "bench/ArrivalCounter.h"
#include "bench/IndependentDevice.h"

namespace bench {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string HarnessDir(int argc, char** argv) {
  const std::string given = Option(argc, argv, "peers", "");
  if (!given.empty()) return given;
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().string();
}

Peer Program(const std::string& dir, const std::string& key, const std::string& label,
             const std::string& program, const std::string& package) {
  Peer p{key, label, {dir + "/" + program}, ""};
  if (access(p.command[0].c_str(), X_OK) != 0) {
    p.missing = program + " was not built";
    if (!package.empty()) p.missing += " (" + package + " was missing when configured)";
  }
  return p;
}

Peer Pyserial(const std::string& dir, const std::string& key, const std::string& label,
              const std::string& variant) {
  Peer p{key, label, {kPython, dir + "/pyserial_peer.py", "--variant", variant}, ""};
  if (access(kPython, X_OK) != 0) p.missing = std::string(kPython) + " is not installed";
  if (access(p.command[1].c_str(), R_OK) != 0) p.missing = p.command[1] + " is missing";
  return p;
}

}  // namespace

Peer Own(const std::string& dir, const std::string& variant, const std::string& label) {
  Peer p = Program(dir, variant, label, "bench_peer_own", "");
  p.command.insert(p.command.end(), {"--variant", variant});
  return p;
}

std::vector<Peer> LatencyPeers(int argc, char** argv) {
  const std::string dir = HarnessDir(argc, argv);
  return {
      Own(dir, "raw", "raw poll()+read()"),
      Own(dir, "raw_hop", "raw + 1 thread hop"),
      Own(dir, "watcher", "TComX OnRxChar (smNone)"),
      Own(dir, "tcomx", "TComX OnRxChar (main thread)"),
      Program(dir, "qt", "Qt Serial Port, readyRead", "bench_peer_qt", "qt6-serialport-dev"),
      Program(dir, "libserialport", "libserialport, sp_wait + read", "bench_peer_libserialport",
              "libserialport-dev"),
      Pyserial(dir, "pyserial_thread", "pyserial, reader thread + queue", "thread"),
      Pyserial(dir, "pyserial_blocking", "pyserial, blocking read(1)", "blocking"),
  };
}

std::vector<Peer> ThroughputPeers(int argc, char** argv) {
  const std::string dir = HarnessDir(argc, argv);
  return {
      Program(dir, "qt", "Qt Serial Port, readyRead + readAll", "bench_peer_qt",
              "qt6-serialport-dev"),
      Program(dir, "libserialport", "libserialport, sp_wait + 64 KiB read",
              "bench_peer_libserialport", "libserialport-dev"),
      Pyserial(dir, "pyserial", "pyserial, reader thread + queue", "thread"),
  };
}

PeerProcess::PeerProcess(const std::vector<std::string>& command, int fd) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  // Built before the fork: the child of a threaded process may only make plain system calls.
  std::vector<char*> args;
  for (const auto& a : command) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    if (fd >= 0) {
      // dup2 onto the same number would keep close-on-exec.
      if (fd == 3) {
        fcntl(3, F_SETFD, 0);
      } else {
        dup2(fd, 3);
      }
    }
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
}

PeerProcess::~PeerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (out_ >= 0) close(out_);
}

bool PeerProcess::ReadLine(std::string& line, int timeoutMs) {
  for (;;) {
    const auto end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    if (eof_) return false;
    pollfd pfd{out_, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      eof_ = true;
    }
  }
}

int PeerProcess::Wait() {
  if (pid_ <= 0) return -1;
  // A child that has said all it will closes its output within moments; one that does not
  // is stuck, and waiting for it would hang the whole run.
  std::string rest;
  while (ReadLine(rest, 10000)) {
  }
  if (!eof_) kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

std::vector<std::string> LatencyCommand(const Peer& peer, const char* fdOption,
                                        const std::string& slave, int samples, int warmup) {
  std::vector<std::string> command = peer.command;
  for (const std::string& a :
       {std::string("latency"), std::string(fdOption), std::string("3"), std::string("--slave"),
        slave, std::string("--samples"), std::to_string(samples), std::string("--warmup"),
        std::to_string(warmup)}) {
    command.push_back(a);
  }
  return command;
}

// What a latency peer said from here to the end of its output; false when it said nothing that
// counts before timeoutMs.
struct PeerWords {
  std::vector<std::int64_t> values;  // of its SAMPLE or ARRIVED lines
  bool costSeen = false;
  ProcessCost cost;
  std::string skipped;
};

// Reads lines up to and including the first of stopAt (when not empty) or to the end.
bool ReadPeerLines(PeerProcess& child, PeerWords& words, int timeoutMs,
                   const std::string& stopAt = "") {
  std::string line;
  while (child.ReadLine(line, timeoutMs)) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "SAMPLE" || word == "ARRIVED") {
      std::int64_t ns = 0;
      in >> ns;
      words.values.push_back(ns);
    } else if (word == "COST") {
      in >> words.cost.wakeups >> words.cost.cpuNs;
      words.costSeen = true;
    } else if (word == "SKIP") {
      std::getline(in >> std::ws, words.skipped);
      return false;
    }
    if (!stopAt.empty() && word == stopAt) return true;
  }
  return stopAt.empty();
}

}  // namespace

PeerSeries RunLatencyPeer(const Peer& peer, Method method, int samples, int warmup) {
  Pty pty;
  PeerSeries s;
  PeerWords words;
  // Generous: the interpreter's start, then the series itself.
  const int timeoutMs = 30000 + (samples + warmup) * 20;
  int status = -1;
  std::string failure;
  if (method == Method::kAnswer) {
    PeerProcess child(LatencyCommand(peer, "--master-fd", pty.SlavePath(), samples, warmup),
                      pty.Master());
    ReadPeerLines(child, words, timeoutMs);
    status = child.Wait();
    s.latencyNs = words.values;
  } else {
    const ArrivalCounter seen = ArrivalCounter::Create();
    PeerProcess child(LatencyCommand(peer, "--arrivals-fd", pty.SlavePath(), samples, warmup),
                      seen.Fd());
    if (ReadPeerLines(child, words, 30000, "READY")) {
      const IndependentRun sent = SendOnTheirOwn(child.Pid(), pty.Master(), seen, warmup + samples);
      failure = sent.failure;
      // A receiver that missed a byte may wait for it for ever (pyserial's read has no
      // time-out): Wait() ends it.
      if (failure.empty()) ReadPeerLines(child, words, timeoutMs);
      if (failure.empty() && words.values.size() == static_cast<std::size_t>(samples)) {
        for (int i = 0; i < samples; ++i) {
          s.latencyNs.push_back(words.values[i] -
                                sent.sentNs[static_cast<std::size_t>(warmup + i)]);
        }
      }
    }
    status = child.Wait();
  }
  s.skipped = words.skipped;
  s.cost = words.cost;
  if (!s.skipped.empty()) return s;
  s.ok = status == 0 && words.costSeen && static_cast<int>(s.latencyNs.size()) == samples;
  if (!s.ok) {
    std::fprintf(stderr, "latency: %s gave %zu of %d samples (exit status %d)%s%s\n",
                 peer.label.c_str(), s.latencyNs.size(), samples, status,
                 failure.empty() ? "" : ": ", failure.c_str());
  }
  return s;
}

}  // namespace bench
