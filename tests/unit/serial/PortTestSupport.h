// Shared set-up for the component's unit tests: a port on the fake driver, and a main-thread
// pump that serves handed-over calls and sent messages the way a GUI loop would.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/HiddenWindow.h"
#include "runtime/MainThread.h"
#include "serial/CportX1.h"
#include "tests/fakes/FakeCommDriver.h"

namespace serial_test {

using namespace std::chrono_literals;

// Runs the main thread's queued calls and sent messages until pred holds; generous bound.
inline bool PumpUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    rt::CheckSynchronize();
    rt::DeliverSentMessages();
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
}

// Serves the main thread for a while with nothing expected to happen.
inline void PumpFor(std::chrono::milliseconds span) {
  PumpUntil([] { return false; }, span);
}

// The message of an exception_ptr, for assertions.
inline std::string MessageOf(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  }
  return {};
}

// Collects background error reports for one test and restores the default afterwards.
class ReportCollector {
 public:
  ReportCollector() {
    rt::SetBackgroundErrorHandler([this](std::exception_ptr e) {
      std::lock_guard lock(m_);
      reports_.push_back(e);
    });
  }
  ~ReportCollector() { rt::SetBackgroundErrorHandler(nullptr); }
  std::vector<std::exception_ptr> Reports() const {
    std::lock_guard lock(m_);
    return reports_;
  }
  std::size_t Count() const { return Reports().size(); }

 private:
  mutable std::mutex m_;
  std::vector<std::exception_ptr> reports_;
};

// Runs f and returns the EComPort it raised; fails the test when it raised nothing else.
template <typename F>
EComPort CatchComPort(F&& f) {
  try {
    f();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

class PortTest : public ::testing::Test {
 protected:
  PortTest() {
    fake.AddDevice("COM1");
    fake.AddDevice("COM2");
  }
  // Opens and forgets the calls the opening made.
  // With a watcher, waits until its first wait is at the driver, so no call of the start-up
  // lands in the log after it was cleared.
  void OpenQuietly() {
    port.Open();
    if (port.ThreadStarted()) {
      EXPECT_TRUE(fake.WaitUntil([&] { return fake.WaitOutstanding(); }));
    }
    fake.ClearCalls();
  }

  // Handlers refer to the test's state, which is gone before the port's destructor runs: no
  // dispatch may reach them after the test body.
  void TearDown() override {
    port.OnRxChar = nullptr;
    port.OnTxEmpty = nullptr;
    port.OnBreak = nullptr;
    port.OnRing = nullptr;
    port.OnCTSChange = nullptr;
    port.OnDSRChange = nullptr;
    port.OnRLSDChange = nullptr;
    port.OnError = nullptr;
    port.OnRxFlag = nullptr;
    port.OnOpen = nullptr;
    port.OnClose = nullptr;
    port.OnRx80Full = nullptr;
    fake.StopFailing("PurgeComm");
    port.Close();
  }

  fake::FakeCommDriver fake;
  TComX port{&fake};
};

}  // namespace serial_test
