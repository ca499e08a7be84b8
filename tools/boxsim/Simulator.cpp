#include "tools/boxsim/Simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/boxsim/Box.h"
#include "tools/boxsim/OutputPacer.h"
#include "tools/boxsim/PortsIni.h"
#include "tools/boxsim/PtyPort.h"

namespace boxsim {

namespace {

using namespace std::chrono_literals;

// How often the absence of a program on the device is re-checked.
constexpr auto kReconnectCheck = 20ms;
// How long the line stays up after the last byte before a hang-up, so the reader gets it.
constexpr auto kHangupLinger = 500ms;

class Logger {
 public:
  Logger(bool verbose) : verbose_(verbose), start_(Clock::now()) {}
  void operator()(const std::string& text) const {
    if (!verbose_) return;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
    std::fprintf(stderr, "boxsim [%7lld ms] %s\n", static_cast<long long>(ms.count()),
                 text.c_str());
  }

 private:
  bool verbose_;
  Clock::time_point start_;
};

int OpenSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&set, s);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  ::signal(SIGPIPE, SIG_IGN);
  return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

std::string Printable(const char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

int RunSimulator(const Options& o) {
  Logger log(o.verbose);

  Flash flash;
  if (!o.flashPath.empty() && (o.flashInit || ::access(o.flashPath.c_str(), F_OK) != 0)) {
    std::string error = CreateImage(o.flashPath, o.geometry);
    if (!error.empty()) {
      std::fprintf(stderr, "boxsim: %s\n", error.c_str());
      return 1;
    }
    log("fresh flash image " + o.flashPath);
  }
  if (std::string error = flash.Open(o.flashPath, o.geometry); !error.empty()) {
    std::fprintf(stderr, "boxsim: %s\n", error.c_str());
    return 1;
  }

  int signals = OpenSignals();
  if (signals < 0) {
    std::fprintf(stderr, "boxsim: cannot set up signals: %s\n", std::strerror(errno));
    return 1;
  }

  PtyPort pty;
  if (std::string error = pty.Open(); !error.empty()) {
    std::fprintf(stderr, "boxsim: %s\n", error.c_str());
    return 1;
  }
  const std::string device = pty.DevicePath();
  if (!o.link.empty()) {
    if (std::string error = MakeLink(o.link, device); !error.empty()) {
      std::fprintf(stderr, "boxsim: %s\n", error.c_str());
      return 1;
    }
  }
  if (!o.portsIni.empty()) {
    if (std::string error = WritePortEntry(o.portsIni, o.com, device); !error.empty()) {
      std::fprintf(stderr, "boxsim: %s\n", error.c_str());
      if (!o.link.empty()) RemoveLink(o.link, device);
      return 1;
    }
  }
  std::cout << device << std::endl;
  log("device " + device);

  OutputPacer pacer(o.baud, o.chunkRandom, o.seed);
  Clock::time_point now = Clock::now();
  Box box(
      o, flash, [&](const std::string& text) { pacer.Append(text, now); },
      [&](const std::string& text) { log(text); });

  // Power follows the program on the device unless the Box is switched by hand or at start.
  const bool powerFollowsClient = !o.powerOnAtStart && !o.waitSignal;
  std::optional<Clock::time_point> powerOnAt;
  if (o.powerOnAtStart) powerOnAt = now + std::chrono::milliseconds(o.powerOnDelayMs);
  std::optional<Clock::time_point> hangupAt;
  bool client = false;
  bool waitWritable = false;
  int status = 0;

  for (;;) {
    now = Clock::now();
    bool present = pty.ClientPresent();
    if (present && !client) {
      log("device opened");
      if (powerFollowsClient && !box.On() && !powerOnAt)
        powerOnAt = now + std::chrono::milliseconds(o.powerOnDelayMs);
    } else if (!present && client) {
      log("device closed");
      if (powerFollowsClient && !o.stayOn) {
        box.PowerOff();
        powerOnAt.reset();
      }
    }
    client = present;

    if (powerOnAt && *powerOnAt <= now) {
      powerOnAt.reset();
      box.PowerOn(now);
    }
    box.Advance(now);

    // What nobody listens to is lost, as on an unplugged line.
    if (!client) pacer.Drop();
    if (std::size_t due = pacer.Due(now); due > 0 && !waitWritable) {
      ssize_t n = ::write(pty.Fd(), pacer.Data(), due);
      if (n > 0) {
        if (o.verbose) log("sent \"" + Printable(pacer.Data(), static_cast<std::size_t>(n)) + "\"");
        pacer.Consumed(static_cast<std::size_t>(n), now);
      } else if (n < 0 && errno == EAGAIN) {
        waitWritable = true;  // the reader is behind: wait until the pty takes more
      }
    }
    if (box.HangupDue() && pacer.Empty()) {
      // The last bytes are still in the pty; a close now could discard them unread.
      if (!hangupAt) hangupAt = now + kHangupLinger;
      if (*hangupAt <= now) {
        log("hanging up");
        break;
      }
    }

    std::optional<Clock::time_point> deadline = box.NextDeadline();
    auto sooner = [&](std::optional<Clock::time_point> t) {
      if (t && (!deadline || *t < *deadline)) deadline = t;
    };
    if (!waitWritable) sooner(pacer.NextDeadline(now));
    sooner(powerOnAt);
    sooner(hangupAt);
    if (!client) sooner(now + kReconnectCheck);

    pollfd fds[2] = {{signals, POLLIN, 0}, {pty.Fd(), 0, 0}};
    nfds_t count = 1;
    if (client) {
      fds[1].events = static_cast<short>(POLLIN | (waitWritable ? POLLOUT : 0));
      count = 2;
    }
    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (deadline) {
      auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      timeoutPtr = &timeout;
    }
    if (::ppoll(fds, count, timeoutPtr, nullptr) < 0 && errno != EINTR) {
      std::fprintf(stderr, "boxsim: poll: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    now = Clock::now();

    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      bool stop = false;
      while (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
          if (!box.On()) box.PowerOn(now);
        } else if (info.ssi_signo == SIGUSR2) {
          box.PowerOff();
          pacer.Drop();
        } else {
          log(std::string("stopped by ") + ::strsignal(static_cast<int>(info.ssi_signo)));
          stop = true;
        }
      }
      if (stop) break;
    }
    if (count == 2) {
      if (fds[1].revents & POLLOUT) waitWritable = false;
      if (fds[1].revents & POLLIN) {
        char buffer[4096];
        ssize_t n = ::read(pty.Fd(), buffer, sizeof buffer);
        if (n > 0) {
          if (o.verbose) log("received \"" + Printable(buffer, static_cast<std::size_t>(n)) + "\"");
          box.Input(buffer, static_cast<std::size_t>(n), now);
        }
      }
      if (fds[1].revents & (POLLHUP | POLLERR)) waitWritable = false;
    }
  }

  pty.Close();
  if (!o.link.empty()) RemoveLink(o.link, device);
  ::close(signals);
  return status;
}

}  // namespace boxsim
