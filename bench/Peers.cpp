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
    p.missing = program + " was not built (" + package + " was missing when configured)";
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

std::vector<Peer> LatencyPeers(int argc, char** argv) {
  const std::string dir = HarnessDir(argc, argv);
  return {
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

PeerProcess::PeerProcess(const std::vector<std::string>& command, int masterFd) {
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
    if (masterFd >= 0) {
      // dup2 onto the same number would keep close-on-exec.
      if (masterFd == 3) {
        fcntl(3, F_SETFD, 0);
      } else {
        dup2(masterFd, 3);
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

PeerSeries RunLatencyPeer(const Peer& peer, int samples, int warmup) {
  Pty pty;
  std::vector<std::string> command = peer.command;
  for (const std::string& a :
       {std::string("latency"), std::string("--master-fd"), std::string("3"),
        std::string("--slave"), pty.SlavePath(), std::string("--samples"), std::to_string(samples),
        std::string("--warmup"), std::to_string(warmup)}) {
    command.push_back(a);
  }
  PeerProcess child(command, pty.Master());
  PeerSeries s;
  bool costSeen = false;
  std::string line;
  // Generous: the interpreter's start, then the series itself.
  while (child.ReadLine(line, 30000 + (samples + warmup) * 20)) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "SAMPLE") {
      std::int64_t ns = 0;
      in >> ns;
      s.latencyNs.push_back(ns);
    } else if (word == "COST") {
      in >> s.cost.wakeups >> s.cost.cpuNs;
      costSeen = true;
    } else if (word == "SKIP") {
      std::getline(in >> std::ws, s.skipped);
    }
  }
  const int status = child.Wait();
  if (!s.skipped.empty()) return s;
  s.ok = status == 0 && costSeen && static_cast<int>(s.latencyNs.size()) == samples;
  if (!s.ok) {
    std::fprintf(stderr, "latency: %s gave %zu of %d samples (exit status %d)\n",
                 peer.label.c_str(), s.latencyNs.size(), samples, status);
  }
  return s;
}

}  // namespace bench
