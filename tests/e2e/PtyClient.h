// The tool's side of a boxsim device for the simulator's own tests: a raw tty that reads
// until a text arrives.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace e2e {

class PtyClient {
 public:
  explicit PtyClient(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios t{};
      ::tcgetattr(fd_, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~PtyClient() { Close(); }
  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Send(const std::string& text) {
    if (::write(fd_, text.data(), text.size()) < 0) hungUp_ = true;
  }
  // Reads until `text` has arrived (true) or the time is up / the line hangs up (false).
  bool ReadUntil(const std::string& text, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (received_.find(text) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || hungUp_) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        received_.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (n < 0 && errno != EAGAIN)) {
        hungUp_ = true;
      }
    }
    return true;
  }
  bool HungUp() const { return hungUp_; }
  const std::string& Received() const { return received_; }
  void Forget() { received_.clear(); }

 private:
  int fd_ = -1;
  std::string received_;
  bool hungUp_ = false;
};

}  // namespace e2e
