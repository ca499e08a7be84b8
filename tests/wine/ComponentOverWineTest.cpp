// The whole Windows event path, end to end: TComX on a pty served by Wine as COM1, its watcher
// thread in WaitCommEvent, and the handlers reaching the main thread through a real message
// loop (a posted WM_NULL for smThreadSync, SendMessageA to the hidden window for
// smWindowSync). The Linux end echoes every byte, so a write comes back as received data.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "runtime/Event.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"

namespace {

constexpr auto kGenerous = std::chrono::seconds(10);

class ComponentOverWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const DWORD mainThread = GetCurrentThreadId();
    rt::SetMainThreadWakeup([this, mainThread] {
      handOverQueued_.Set();
      PostThreadMessageA(mainThread, WM_NULL, 0, 0);
    });
    port_.SetPort(COM1);
    port_.SetBaudRate(br115200);
    port_.SetEvents(kAllEvents);
    port_.OnRxChar = [this](TObject*, int count) {
      ++calls_;
      if (!rt::IsMainThread()) ++callsOffMain_;
      std::string chunk(static_cast<std::size_t>(count), '\0');
      const int n = count > 0 ? port_.Read(chunk.data(), count) : 0;
      received_.append(chunk, 0, static_cast<std::size_t>(n));
    };
  }
  void TearDown() override {
    if (port_.Connected()) port_.Close();
    rt::SetMainThreadWakeup(nullptr);
    rt::CheckSynchronize();
  }

  // The shape of the Win32 front end's loop; sent messages are delivered inside PeekMessage.
  void PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.hwnd == nullptr && msg.message == WM_NULL) rt::CheckSynchronize();
        DispatchMessageA(&msg);
      }
    }
  }

  TComX port_;
  rt::Event handOverQueued_{false, false};
  std::string received_;
  int calls_ = 0;
  int callsOffMain_ = 0;
};

TEST_F(ComponentOverWineTest, ThreadSyncBringsEchoedBytesToOnRxCharOnTheMainThread) {
  port_.SetSyncMethod(smThreadSync);
  port_.Open();
  ASSERT_TRUE(port_.Connected());
  port_.WriteString("box> erase\n");
  PumpUntil([&] { return received_.size() >= 11; });
  EXPECT_EQ(received_, "box> erase\n");
  EXPECT_GE(calls_, 1);
  EXPECT_EQ(callsOffMain_, 0);
  port_.Close();
  EXPECT_FALSE(port_.Connected());
}

TEST_F(ComponentOverWineTest, WindowSyncBringsEchoedBytesThroughTheHiddenWindow) {
  port_.SetSyncMethod(smWindowSync);
  port_.Open();
  port_.WriteString("hello");
  PumpUntil([&] { return received_.size() >= 5; });
  EXPECT_EQ(received_, "hello");
  EXPECT_EQ(callsOffMain_, 0);
  port_.Close();
}

// The watcher is blocked in the hand-over when Close starts: Close's wait for it must run
// that call, or neither thread would ever go on.
TEST_F(ComponentOverWineTest, CloseWhileTheWatcherWaitsForTheMainThreadReturns) {
  port_.SetSyncMethod(smThreadSync);
  port_.SetEvents(TEvents{evRxChar});  // so the first hand-over is the receive dispatch
  port_.Open();
  port_.WriteString("late");
  ASSERT_TRUE(handOverQueued_.Wait(10000)) << "the watcher never handed over";
  const auto start = std::chrono::steady_clock::now();
  port_.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, kGenerous);
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(calls_, 1) << "the dispatch under way completes inside Close";
}

}  // namespace
