// An open engine port on a fresh pty with the tool's line settings.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "serial/driver/CommDriver.h"
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

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = OpenPort(pty_.SlavePath());
    ASSERT_NE(h_, drv::kInvalidHandle) << D().GetLastError();
    ASSERT_TRUE(D().SetCommState(h_, ToolDcb())) << D().GetLastError();
  }
  void TearDown() override {
    if (h_ != drv::kInvalidHandle) D().CloseHandle(h_);
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

  PtyPair pty_;
  drv::Handle h_ = drv::kInvalidHandle;
};

}  // namespace ptytest
