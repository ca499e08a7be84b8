// WaitCommEvent on a pty under Wine. Without the pty ioctl shim Wine completes every wait at
// once with ERROR_OPERATION_ABORTED; with it, EV_RXCHAR and EV_TXEMPTY arrive as on Windows.
#include <gtest/gtest.h>

#include "WinePort.h"

namespace drv::test {
namespace {

class CommEventTest : public OpenPortTest {
 protected:
  // Starts a wait that must still be pending a moment later.
  void StartPendingWait(std::uint32_t mask) {
    ASSERT_TRUE(d_.SetCommMask(h_, mask)) << d_.GetLastError();
    ov_.hEvent = done_.Handle();
    if (d_.WaitCommEvent(h_, &events_, &ov_)) {
      FAIL() << "the wait completed at once with events " << events_;
    }
    ASSERT_EQ(d_.GetLastError(), kErrorIoPending);
    if (done_.Wait(200)) {
      std::uint32_t n = 0;
      const bool ok = d_.GetOverlappedResult(h_, &ov_, &n, false);
      FAIL() << "the wait ended with nothing happening: result " << ok << ", error "
             << d_.GetLastError() << " (is the pty ioctl shim loaded?)";
    }
  }
  std::uint32_t FinishWait() {
    EXPECT_TRUE(done_.Wait(kGenerousMs)) << "no event within the bound";
    std::uint32_t n = 0;
    EXPECT_TRUE(d_.GetOverlappedResult(h_, &ov_, &n, false)) << d_.GetLastError();
    return events_;
  }

  rt::Event done_{true, false};
  Overlapped ov_;
  std::uint32_t events_ = 0;
};

TEST_F(CommEventTest, ArrivingBytesCompleteAWaitWithRxChar) {
  ASSERT_NO_FATAL_FAILURE(StartPendingWait(kEvRxChar));
  ASSERT_EQ(Write("x"), 1u);  // its echo is the arrival
  EXPECT_EQ(FinishWait() & kEvRxChar, kEvRxChar);
  EXPECT_EQ(Read(1), "x");
}

TEST_F(CommEventTest, DrainedWriteCompletesAWaitWithTxEmpty) {
  ASSERT_NO_FATAL_FAILURE(StartPendingWait(kEvTxEmpty));
  ASSERT_EQ(Write("drain"), 5u);
  EXPECT_EQ(FinishWait() & kEvTxEmpty, kEvTxEmpty);
}

TEST_F(CommEventTest, ChangingTheMaskEndsAPendingWait) {
  ASSERT_NO_FATAL_FAILURE(StartPendingWait(kEvRxChar));
  // Changing the mask ends a pending wait on Windows (with no events reported).
  ASSERT_TRUE(d_.SetCommMask(h_, 0));
  EXPECT_TRUE(done_.Wait(kGenerousMs)) << "the wait outlived its mask";
}

}  // namespace
}  // namespace drv::test
