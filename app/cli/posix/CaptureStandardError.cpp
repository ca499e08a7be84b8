// Standard error pointed at a pipe for the time of the call, read once it is pointed back. The
// pipe does not block its writers: what does not fit is lost, and nothing can hang on it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/cli/PortNotes.h"

namespace cli {

namespace {

class Redirect {
 public:
  Redirect() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0) {
      ::close(fds[0]);
      ::close(fds[1]);
      return;
    }
    Flush();
    ::dup2(fds[1], STDERR_FILENO);
    ::close(fds[1]);
    read_ = fds[0];
  }
  ~Redirect() { Restore(); }
  std::string Restore() {
    std::string text;
    if (read_ < 0) return text;
    Flush();
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    char buffer[4096];
    for (ssize_t n; (n = ::read(read_, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(read_);
    read_ = -1;
    return text;
  }

 private:
  static void Flush() {
    std::cerr.flush();
    std::fflush(stderr);
  }
  int saved_ = -1;
  int read_ = -1;
};

}  // namespace

std::string CaptureStandardError(const std::function<void()>& run) {
  Redirect redirect;
  run();
  return redirect.Restore();
}

}  // namespace cli
