#include "serial/driver/posix/net/NetLine.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "serial/driver/posix/engine/ErrnoToWinError.h"
#include "serial/driver/posix/net/NetConnect.h"
#include "serial/driver/posix/net/TelnetCodec.h"

namespace drv::posix {
namespace {

// Line data encoded at a time: what a write may leave with the line beyond the socket's buffer.
constexpr std::size_t kEncodeChunk = 4096;

int MillisecondsLeft(Line::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Line::Clock::now()).count();
  return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace

std::unique_ptr<NetLine> NetLine::Open(const std::string& name, std::uint32_t* error,
                                       std::string* reason, const NetLineLimits& limits) {
  std::string problem;
  const std::optional<NetAddress> address = ParseNetAddress(name, &problem);
  if (!address) {
    *error = kErrorInvalidName;
    *reason = problem;
    return nullptr;
  }
  const Connection connection = ConnectTo(*address, limits.connect);
  if (connection.fd < 0) {
    *error = connection.error;
    *reason = connection.reason;
    return nullptr;
  }
  std::unique_ptr<NetLine> line(new NetLine(connection.fd, name, limits));
  if (address->protocol == NetProtocol::kRfc2217) {
    line->session_ = std::make_unique<ComPortSession>();
    line->session_->Begin(line->out_);
    if (!line->Negotiate()) {
      *error = kErrorNetNameDeleted;
      *reason = DescribeEndpoint(*address) + " closed the connection while it was being set up";
      return nullptr;
    }
  }
  *error = kErrorSuccess;
  return line;
}

NetLine::~NetLine() {
  Close();
}

void NetLine::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void NetLine::Note(const std::string& text) const {
  std::fprintf(stderr, "%s: %s\n", name_.c_str(), text.c_str());
}

bool NetLine::Negotiate() {
  const Clock::time_point deadline = Clock::now() + limits_.negotiation;
  for (;;) {
    if (!FlushOwnOutput()) return false;
    if (!session_->Negotiating() && out_.empty()) return true;
    pollfd p{fd_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
    const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      // A server that leaves options unanswered gets what it agreed to so far; answers that
      // come later are still taken.
      Note("no answer to the Telnet options within " + std::to_string(limits_.negotiation.count()) +
           " ms; going on");
      return true;
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      std::uint8_t data[kEncodeChunk];
      Input in;
      if (!ReceiveChunk(data, sizeof data, in)) return false;
      // What the device says before the port is ready is its first data, not noise.
      held_.insert(held_.end(), data, data + in.bytes);
    }
  }
}

bool NetLine::ReceiveChunk(std::uint8_t* data, std::size_t max, Input& in) {
  std::uint8_t raw[kEncodeChunk];
  const std::size_t want = std::min(max, sizeof raw);
  ssize_t n;
  do {
    n = ::recv(fd_, session_ ? raw : data, want, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n <= 0) {
    // Closed by the server, reset, or timed out by keepalive or TCP_USER_TIMEOUT.
    gone_ = true;
    in.gone = true;
    return false;
  }
  const auto got = static_cast<std::size_t>(n);
  in.more = got == want;
  if (!session_) {
    in.bytes += got;
    return true;
  }
  const ComPortSession::Taken taken = session_->Take(raw, got, data, out_);
  in.bytes += taken.data;
  in.events |= taken.events;
  in.errors |= taken.errors;
  if (!FlushOwnOutput()) {
    in.gone = true;
    return false;
  }
  return true;
}

Line::Input NetLine::Read(std::uint8_t* buffer, std::size_t max) {
  Input in;
  if (InputHeld()) {
    const std::size_t n = std::min(max, held_.size() - heldAt_);
    std::memcpy(buffer, held_.data() + heldAt_, n);
    heldAt_ += n;
    if (heldAt_ == held_.size()) {
      held_.clear();
      heldAt_ = 0;
    }
    in.bytes = n;
    in.more = true;
    return in;
  }
  if (gone_) {
    in.gone = true;
    return in;
  }
  ReceiveChunk(buffer, max, in);
  return in;
}

bool NetLine::FlushOwnOutput() {
  while (!out_.empty()) {
    if (gone_) return false;
    const ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      out_.erase(out_.begin(), out_.begin() + n);
      dataInOut_ -= std::min(dataInOut_, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    gone_ = true;
    return false;
  }
  return !gone_;
}

long NetLine::Write(const std::uint8_t* data, std::size_t n) {
  if (!FlushOwnOutput()) return -1;
  // What the line holds already goes first; data waits while the server has suspended it.
  if (!out_.empty() || OutputSuspended()) return 0;
  if (!session_) {
    for (;;) {
      const ssize_t sent = ::send(fd_, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) return static_cast<long>(sent);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      gone_ = true;
      return -1;
    }
  }
  // Escaped data is handed over whole: the part the socket does not take now stays with the
  // line, which sends it before anything else.
  const std::size_t take = std::min(n, kEncodeChunk);
  session_->EncodeData(data, take, out_);
  dataInOut_ = out_.size();
  if (!FlushOwnOutput()) return -1;
  return static_cast<long>(take);
}

bool NetLine::OutputQueued(std::uint32_t* queued) {
  // For a socket: bytes not yet sent or not yet acknowledged by the server.
  int unacknowledged = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &unacknowledged) != 0) return false;
  *queued = static_cast<std::uint32_t>(out_.size()) +
            static_cast<std::uint32_t>(std::max(unacknowledged, 0));
  return true;
}

std::uint32_t NetLine::Apply(const Dcb& dcb) {
  if (gone_) return kErrorDeviceNotConnected;
  if (!session_) return kErrorSuccess;  // tcp://: the server's settings are the line's
  if (!session_->ComPortControl()) {
    if (!toldNoControl_) {
      toldNoControl_ = true;
      Note("the server does not take port settings (no Com Port Control); its own apply");
    }
    return kErrorSuccess;
  }
  session_->RequestSettings(dcb, Clock::now() + limits_.confirmation, out_);
  return FlushOwnOutput() ? kErrorSuccess : kErrorDeviceNotConnected;
}

bool NetLine::Unconfirmed(Clock::time_point* until) const {
  return session_ && !gone_ && session_->Unconfirmed(until);
}

void NetLine::StopWaitingForConfirmation() {
  if (!session_) return;
  const std::string unconfirmed = session_->StopWaiting();
  if (!unconfirmed.empty()) {
    Note("the server did not confirm " + unconfirmed + " within " +
         std::to_string(limits_.confirmation.count()) + " ms; going on without");
  }
}

std::uint32_t NetLine::ModemStatus(std::uint32_t* status) {
  *status = session_ ? session_->ModemStatus() : 0;
  return kErrorSuccess;
}

void NetLine::Purge(bool transmit, bool receive) {
  if (receive) {
    // What the socket holds now is line data that arrived before the purge, like the bytes a
    // tty's input queue holds; the server's messages among it are still taken. What arrives
    // while this runs is left for the reads.
    held_.clear();
    heldAt_ = 0;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) waiting = 0;
    std::uint8_t scratch[kEncodeChunk];
    for (std::size_t dropped = 0; dropped < static_cast<std::size_t>(waiting);) {
      Input in;
      const std::size_t want =
          std::min(sizeof scratch, static_cast<std::size_t>(waiting) - dropped);
      if (!ReceiveChunk(scratch, want, in) || !in.more) break;
      dropped += want;
    }
  }
  if (transmit) DropHeldData();
  if (session_ && session_->ComPortControl()) {
    session_->RequestPurge((transmit ? kPurgeTxClear : 0u) | (receive ? kPurgeRxClear : 0u), out_);
    FlushOwnOutput();
  }
}

// Written data the socket has not taken yet is dropped, as tcflush drops what a tty's output
// queue holds; the protocol's own messages behind it stay. An escape the socket took half of
// keeps its second half: the server would take a lone IAC for the start of a command.
void NetLine::DropHeldData() {
  std::size_t iacs = 0;
  while (iacs < dataInOut_ && out_[iacs] == telnet::kIac) ++iacs;
  // The chunk's IACs all come in pairs, so an odd run at the front is a pair cut in two.
  const std::size_t keep = iacs % 2;
  out_.erase(out_.begin() + static_cast<std::ptrdiff_t>(keep),
             out_.begin() + static_cast<std::ptrdiff_t>(dataInOut_));
  dataInOut_ = keep;
}

std::unique_ptr<LineActivity> NetLine::WatchLineChanges(LineChangeReport) {
  // The server's modem-state notifications arrive with the data.
  return nullptr;
}

}  // namespace drv::posix
