// A wait that the driver will not give back when the watcher ends. The driver still holds the
// addresses it was handed with the request (the overlapped block and the word it writes the
// events into) and may write through them at any later time, after the port has closed. Run
// under AddressSanitizer, a write into memory that went with the watcher shows up here.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/Event.h"
#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

// A driver whose mask change leaves an outstanding wait pending, and that completes such a
// wait on its own later, as drivers outside Windows may.
class KeptWaitDriver : public fake::FakeCommDriver {
 public:
  std::atomic<bool> keepWaits{false};

  bool WaitCommEvent(drv::Handle h, std::uint32_t* eventMask, drv::Overlapped* ov) override {
    {
      std::lock_guard lock(m_);
      lastWord_ = eventMask;
      lastBlock_ = ov;
    }
    return FakeCommDriver::WaitCommEvent(h, eventMask, ov);
  }

  bool SetCommMask(drv::Handle h, std::uint32_t mask) override {
    if (keepWaits) return true;
    return FakeCommDriver::SetCommMask(h, mask);
  }

  // Completes the last wait request the way a driver does: the events into its word, the
  // result into its block, then its event. Returns whether the block's event still existed.
  bool CompleteLastWait(std::uint32_t events) {
    std::lock_guard lock(m_);
    *lastWord_ = events;
    lastBlock_->Internal = 0;
    lastBlock_->InternalHigh = 0;
    return rt::SetEvent(lastBlock_->hEvent);
  }

 private:
  std::mutex m_;
  std::uint32_t* lastWord_ = nullptr;
  drv::Overlapped* lastBlock_ = nullptr;
};

TEST(AbandonedWaitTest, ADriverThatCompletesAWaitAfterCloseWritesIntoMemoryThatStillExists) {
  KeptWaitDriver driver;
  driver.AddDevice("COM1");
  TComX port(&driver);
  port.SetSyncMethod(smNone);
  port.Open();
  ASSERT_TRUE(driver.WaitUntil([&] { return driver.WaitOutstanding(); }));

  driver.keepWaits = true;
  port.Close();  // the watcher gives the driver its grace, then leaves the wait behind
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_FALSE(driver.IsOpen());
  EXPECT_TRUE(driver.CompleteLastWait(drv::kEvRxChar | drv::kEvTxEmpty));

  // The abandoned request does not disturb the next watcher.
  driver.keepWaits = false;
  std::vector<int> counts;
  std::mutex countsM;
  port.OnRxChar = [&](TObject*, int n) {
    std::lock_guard lock(countsM);
    counts.push_back(n);
  };
  port.Open();
  ASSERT_TRUE(driver.WaitUntil([&] { return driver.WaitOutstanding(); }));
  driver.Receive("ab");
  EXPECT_TRUE(driver.WaitUntil([&] {
    std::lock_guard lock(countsM);
    return counts == std::vector<int>{2};
  }));
  port.Close();
  port.OnRxChar = nullptr;
}

}  // namespace
}  // namespace serial_test
