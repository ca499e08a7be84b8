// An open engine port with the tool's line settings, on a fresh pty: opened directly, or as a
// serial server's network port whose connector is that pty (a real ser2net on loopback). The
// test plays the other end of the cable on the pty's master either way.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "serial/driver/CommDriver.h"
#include "tests/e2e/Ser2net.h"
#include "tests/pty/PtyPair.h"

namespace ptytest {

inline drv::CommDriver& D() {
  return drv::DefaultCommDriver();
}

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

inline long ElapsedMs(SteadyClock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<Ms>(SteadyClock::now() - since).count());
}

// The lines a port can have: the tty itself, or ser2net's RFC 2217 port in front of it.
enum class LineKind { kPty, kRfc2217 };

inline std::string LineName(const ::testing::TestParamInfo<LineKind>& info) {
  return info.param == LineKind::kPty ? "Pty" : "Rfc2217";
}
inline void PrintTo(LineKind kind, std::ostream* os) {
  *os << (kind == LineKind::kPty ? "pty" : "rfc2217 through ser2net");
}

class EngineTestBase : public ::testing::Test {
 protected:
  explicit EngineTestBase(LineKind kind) : kind_(kind) {}

  void SetUp() override {
    std::string name = pty_.SlavePath();
    if (kind_ == LineKind::kRfc2217) {
      server_ = std::make_unique<e2e::Ser2net>(pty_.SlavePath(), e2e::Ser2net::Kind::kRfc2217,
                                               scratch_.Path());
      if (e2e::Ser2net::Program().empty()) GTEST_SKIP() << server_->Problem();
      ASSERT_TRUE(server_->Ready()) << server_->Problem();
      name = server_->Url();
    }
    h_ = OpenPort(name);
    ASSERT_NE(h_, drv::kInvalidHandle) << name << ": " << D().GetLastError();
    ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  }
  void TearDown() override {
    if (h_ != drv::kInvalidHandle) D().CloseHandle(h_);
  }

  bool Network() const { return kind_ != LineKind::kPty; }
  std::string EngineThread() const {
    return (Network() ? "zwnet-" : "zwtty-") + std::to_string(h_);
  }

  void SetTimeouts(const drv::CommTimeouts& t) { ASSERT_TRUE(D().SetCommTimeouts(h_, t)); }

  std::uint32_t InQueue() {
    std::uint32_t errors = 0;
    drv::ComStat stat;
    EXPECT_TRUE(D().ClearCommError(h_, &errors, &stat)) << D().GetLastError();
    return stat.cbInQue;
  }
  // Waits (generously) until the engine holds n received bytes.
  void AwaitInQueue(std::uint32_t n) {
    const auto start = SteadyClock::now();
    while (InQueue() < n && ElapsedMs(start) < 3000) std::this_thread::sleep_for(Ms(5));
    ASSERT_GE(InQueue(), n) << "bytes never arrived";
  }

  // Starts a read; returns true when it completed at once.
  bool StartRead(std::uint8_t* buffer, std::uint32_t count, Transfer& t, std::uint32_t* done) {
    const bool ok = D().ReadFile(h_, buffer, count, done, &t.ov);
    if (!ok) {
      EXPECT_EQ(D().GetLastError(), drv::kErrorIoPending);
    }
    return ok;
  }
  // The outcome of a finished transfer: success flag, count, error.
  struct Outcome {
    bool ok;
    std::uint32_t count;
    std::uint32_t error;
  };
  Outcome Finish(Transfer& t) {
    std::uint32_t count = 0;
    const bool ok = D().GetOverlappedResult(h_, &t.ov, &count, false);
    return {ok, count, ok ? 0 : D().GetLastError()};
  }

  LineKind kind_;
  PtyPair pty_;
  e2e::ScratchDir scratch_;
  std::unique_ptr<e2e::Ser2net> server_;
  drv::Handle h_ = drv::kInvalidHandle;
};

// A comm-event wait: its transfer and the word the events are written into.
struct Wait {
  Transfer t;
  std::uint32_t events = 0xDEAD;
};

// Starts a wait; true when it completed at once.
inline bool StartWait(drv::Handle h, Wait& w) {
  const bool ok = D().WaitCommEvent(h, &w.events, &w.t.ov);
  if (!ok) {
    EXPECT_EQ(D().GetLastError(), drv::kErrorIoPending);
  }
  return ok;
}

// The suites every line must pass.
class EngineTest : public EngineTestBase, public ::testing::WithParamInterface<LineKind> {
 protected:
  EngineTest() : EngineTestBase(GetParam()) {}
};

inline auto EveryLine() {
  return ::testing::Values(LineKind::kPty, LineKind::kRfc2217);
}

// What only a tty shows: the kernel's own output queue, PARMRK marks, termios.
class TtyEngineTest : public EngineTestBase {
 protected:
  TtyEngineTest() : EngineTestBase(LineKind::kPty) {}
};

}  // namespace ptytest
