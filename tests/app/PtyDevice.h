// The far end of the cable on a pseudo-terminal: the tool opens the slave side as its port, and
// the device talks through the master side on its own thread, byte by byte as a Box would.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/ReadBack.h"

class PtyDevice {
 public:
  // Runs on the device's thread for every line the tool sent, without its line feed.
  using LineHandler = std::function<void(PtyDevice&, const std::string& line)>;

  PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    slave_ = ptsname(master_);
  }
  ~PtyDevice() {
    Stop();
    close(master_);
  }
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  const std::string& SlavePath() const { return slave_; }

  // Sends bootText, then hands every line the tool sends to onLine.
  void PowerOn(std::string bootText, LineHandler onLine = {}) {
    thread_ = std::thread([this, bootText = std::move(bootText), onLine = std::move(onLine)] {
      Send(bootText);
      Run(onLine);
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Stopped() const { return stop_; }

  // Writes to the cable (from any thread); a full cable waits, unless the device is stopped or
  // cancel is set.
  void Send(const std::string& text, const std::atomic<bool>& cancel = kNever) {
    std::size_t at = 0;
    while (at < text.size() && !stop_ && !cancel) {
      const ssize_t n = write(master_, text.data() + at, text.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
      } else if (errno == EAGAIN) {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 20);
      } else {
        // No one holds the port open: the cable takes nothing until the tool opens it again.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

  // Every byte the tool wrote, in order.
  std::string Received() {
    std::lock_guard lock(m_);
    return received_;
  }

  // No one holds the slave side open any more: the tool has released its port.
  bool PortReleased() const {
    pollfd p{master_, 0, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
  }

 private:
  void Run(const LineHandler& onLine) {
    std::string pending;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[256];
      const ssize_t n = (p.revents & POLLIN) ? read(master_, buffer, sizeof buffer) : 0;
      if (n <= 0) {
        // The tool has closed its port: a hang-up stays signalled, so don't spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      {
        std::lock_guard lock(m_);
        received_.append(buffer, static_cast<std::size_t>(n));
      }
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (onLine) onLine(*this, line);
      }
    }
  }

  int master_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  static inline const std::atomic<bool> kNever{false};
  std::mutex m_;
  std::string received_;
};

inline const char* const kBoxBootText = "Box boot loader 1.4\r\nDRAM: 64 MiB\r\nFlash: 32 MiB\r\n";

// A Box's console: answers the second empty line with its prompt, a read-back with the CRC of
// an erased range, and any other line after that with its echo, some progress and the prompt
// again.
inline PtyDevice::LineHandler BoxConsole() {
  auto lineFeeds = std::make_shared<int>(0);
  auto prompted = std::make_shared<bool>(false);
  return [lineFeeds, prompted](PtyDevice& box, const std::string& line) {
    unsigned start = 0, count = 0;
    if (!*prompted && line.empty() && ++*lineFeeds == 2) {
      box.Send("\r\nbox> ");
      *prompted = true;
    } else if (*prompted && std::sscanf(line.c_str(), "crc32 %x %x", &start, &count) == 2) {
      box.Send(line + "\r\ncrc32 for " + app::Hex8(start) + " ... " + app::Hex8(start + count - 1) +
               " ==> " + app::Hex8(app::Crc32OfErased(count)) + "\r\nbox> ");
    } else if (*prompted && !line.empty()) {
      box.Send(line + "\r\nProtected 0 sectors\r\nErased sectors\r\n");
      box.Send("\r\nbox> ");
    }
  };
}
