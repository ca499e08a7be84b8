// The hand-over and the hidden window against a real Win32 message queue.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "../LambdaThread.h"
#include "runtime/Event.h"
#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"

namespace rt {
namespace {

using test::LambdaThread;

constexpr UINT kStopLoop = WM_APP + 7;
constexpr UINT kMarker = WM_APP + 8;
constexpr std::uint32_t kPortEvent = 1025;

std::atomic<int> gTimerTicks{0};
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
  ++gTimerTicks;
}

class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mainThreadId_ = GetCurrentThreadId();
    // Whatever an earlier case left in the queue must not end this case's loop.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override {
    SetMainThreadWakeup(nullptr);
    CheckSynchronize();
  }
  // The shape of the GUI backend's loop: WM_NULL means "hand-over queued".
  void RunLoopUntilStopped() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == kStopLoop) return;
      if (msg.hwnd == nullptr && msg.message == WM_NULL) CheckSynchronize();
      DispatchMessageA(&msg);
    }
  }
  void PostToMain(UINT msg) { PostThreadMessageA(mainThreadId_, msg, 0, 0); }

  DWORD mainThreadId_ = 0;
};

TEST_F(MessageLoopTest, EventHandleIsAKernelEventHandle) {
  EventHandle e = CreateEventA(false, false);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(e, &flags));
  ASSERT_TRUE(::SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), kWaitObject0);
  EXPECT_EQ(::WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseEvent(e);
}

TEST_F(MessageLoopTest, SynchronizeIsServedByAMessageLoopWokenWithNullMessages) {
  SetMainThreadWakeup([this] { PostToMain(WM_NULL); });
  std::vector<int> order;
  std::vector<bool> onMain;
  LambdaThread t([&](LambdaThread& self) {
    for (int i = 0; i < 20; ++i) {
      self.Synchronize([&, i] {
        order.push_back(i);
        onMain.push_back(IsMainThread());
      });
    }
    PostToMain(kStopLoop);
  });
  t.Resume();
  RunLoopUntilStopped();
  t.WaitFor();
  ASSERT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(order[i], i);
    EXPECT_TRUE(onMain[i]) << "call " << i;
  }
}

TEST_F(MessageLoopTest, SendToTheHiddenWindowIsDeliveredByGetMessage) {
  std::vector<std::uintptr_t> seen;
  HiddenWindow window([&](Message& m) {
    if (m.Msg != kPortEvent) return;
    seen.push_back(m.WParam);
    m.Result = 1;
  });
  std::vector<std::intptr_t> results;
  LambdaThread t([&](LambdaThread&) {
    for (std::uintptr_t bit : {1u, 4u, 128u}) {
      results.push_back(window.SendMessageA(kPortEvent, bit, 0));
    }
    PostToMain(kStopLoop);
  });
  t.Resume();
  RunLoopUntilStopped();
  t.WaitFor();
  EXPECT_EQ(seen, (std::vector<std::uintptr_t>{1, 4, 128}));
  EXPECT_EQ(results, (std::vector<std::intptr_t>{1, 1, 1}));
}

TEST_F(MessageLoopTest, UnhandledMessagesGoToTheSystemDefaultProcedure) {
  HiddenWindow* self = nullptr;
  HiddenWindow window([&](Message& m) {
    if (m.Msg != kPortEvent) m.Result = self->DefWindowProcA(m.Msg, m.WParam, m.LParam);
  });
  self = &window;
  char title[] = "caption";
  EXPECT_EQ(window.SendMessageA(WM_SETTEXT, 0, reinterpret_cast<std::intptr_t>(title)), TRUE);
  EXPECT_EQ(window.SendMessageA(WM_GETTEXTLENGTH, 0, 0), 7);
}

TEST_F(MessageLoopTest, ProcedureExceptionCrossesTheRealSendToTheSender) {
  HiddenWindow window([](Message&) { throw std::runtime_error("from the window procedure"); });
  std::string caught;
  LambdaThread t([&](LambdaThread&) {
    try {
      window.SendMessageA(kPortEvent, 1, 0);
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(caught, "from the window procedure");
}

// While the main thread waits for a worker it runs hand-overs and sent messages, and
// dispatches nothing else: posted messages and timer ticks stay in the queue.
TEST_F(MessageLoopTest, WaitForOnMainRunsHandOversAndSentMessagesOnly) {
  gTimerTicks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 1, CountTick);
  ASSERT_NE(timer, 0u);
  PostToMain(kMarker);
  int handedOver = 0;
  int sent = 0;
  HiddenWindow window([&](Message& m) {
    if (m.Msg == kPortEvent) ++sent;
  });
  LambdaThread t([&](LambdaThread& self) {
    self.Synchronize([&] { ++handedOver; });
    window.SendMessageA(kPortEvent, 1, 0);
    Sleep(50);  // the timer falls due while the main thread still waits
    self.Synchronize([&] { ++handedOver; });
    window.SendMessageA(kPortEvent, 1, 0);
  });
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(handedOver, 2);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(gTimerTicks.load(), 0) << "a timer ticked inside the wait";
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, kMarker, kMarker, PM_REMOVE))
      << "the posted message was taken from the queue";
  EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE))
      << "the due timer tick should still be queued";
  KillTimer(nullptr, timer);
}

}  // namespace
}  // namespace rt
