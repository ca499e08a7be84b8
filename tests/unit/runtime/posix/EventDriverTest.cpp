// Waits on a driven event: the waiting thread runs the driver, is woken through its own fd when
// an event of the wait is set elsewhere, and tells the driver when it leaves.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "runtime/Event.h"
#include "runtime/posix/EventDriver.h"

namespace rt {
namespace {

using namespace std::chrono_literals;

// Sleeps on the waiter's fd like a port whose line stays silent, or sets the event itself
// after a number of rounds, like a port whose line brings the awaited byte.
class SilentLine : public EventDriver {
 public:
  explicit SilentLine(EventHandle completes = nullptr, int roundsUntilDone = -1)
      : completes_(completes), roundsUntilDone_(roundsUntilDone) {}
  void Drive(int wakeFd, const std::atomic<bool>& /*woken*/,
             std::optional<Clock::time_point> deadline) override {
    drivers_.insert(std::this_thread::get_id());
    if (completes_) {
      // A busy line: each round brings something, the last one what the wait wants.
      if (++rounds_ == roundsUntilDone_) SetEvent(completes_);
      return;
    }
    ++rounds_;
    long long ms = -1;
    if (deadline) {
      ms = std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count());
    }
    pollfd pfd{wakeFd, POLLIN, 0};
    ::poll(&pfd, 1, static_cast<int>(ms));
  }
  void Leave(int) override { ++leaves_; }
  void Attend() override { ++attends_; }
  void Unattend() override { ++unattends_; }

  std::atomic<int> rounds_{0};
  std::atomic<int> leaves_{0};
  std::atomic<int> attends_{0};
  std::atomic<int> unattends_{0};
  std::set<std::thread::id> drivers_;

 private:
  EventHandle completes_;
  int roundsUntilDone_;
};

TEST(DrivenWait, TheWaitingThreadDrivesUntilItsEventIsSetAndLeavesOnce) {
  Event done(true, false);
  auto line = std::make_shared<SilentLine>(done.Handle(), 3);
  SetEventDriver(done.Handle(), line);
  EXPECT_EQ(WaitForSingleObject(done.Handle(), kInfinite), kWaitObject0);
  EXPECT_EQ(line->rounds_, 3);
  EXPECT_EQ(line->leaves_, 1);
  EXPECT_EQ(line->drivers_, std::set{std::this_thread::get_id()});
  pollfd own{WakeFdOfThisThread(), POLLIN, 0};
  EXPECT_EQ(::poll(&own, 1, 0), 0) << "a driver that set its own thread's event woke it by the fd";
}

TEST(DrivenWait, AnotherEventOfTheWaitSetElsewhereWakesTheDriver) {
  Event stop(true, false);
  Event driven(true, false);
  auto line = std::make_shared<SilentLine>();
  SetEventDriver(driven.Handle(), line);
  std::thread setter([&] {
    std::this_thread::sleep_for(50ms);
    stop.Set();
  });
  const EventHandle both[] = {stop.Handle(), driven.Handle()};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForMultipleObjects(2, both, 10000), kWaitObject0);
  setter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the driver slept through SetEvent";
  EXPECT_GE(line->rounds_, 1);
  EXPECT_EQ(line->leaves_, 1);
}

TEST(DrivenWait, AWaitOfNoTimeLooksOnceAndOldWakeUpsDoNotEndALaterWait) {
  Event driven(true, false);
  auto line = std::make_shared<SilentLine>(driven.Handle(), 1);
  SetEventDriver(driven.Handle(), line);
  EXPECT_EQ(WaitForSingleObject(driven.Handle(), 0), kWaitObject0)
      << "a completion the driver finds at once is seen by a wait of 0 ms";

  // Set while nobody waits: the thread's fd may hold wake-ups of earlier waits, which must
  // neither end this one early nor keep the driver turning.
  driven.Reset();
  auto silent = std::make_shared<SilentLine>();
  SetEventDriver(driven.Handle(), silent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(driven.Handle(), 200), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
  EXPECT_LE(silent->rounds_, 3) << "rounds of a driver in 200 ms of silence";
}

// A thread can drive one driver at a time: a wait on events of two drives the first and tells
// the other that it must see to its work itself meanwhile.
TEST(DrivenWait, AWaitOnEventsOfTwoDriversDrivesTheFirstAndAttendsTheOther) {
  Event first(true, false), second(true, false);
  auto firstLine = std::make_shared<SilentLine>();
  auto secondLine = std::make_shared<SilentLine>();
  SetEventDriver(first.Handle(), firstLine);
  SetEventDriver(second.Handle(), secondLine);
  const EventHandle both[] = {first.Handle(), second.Handle()};
  EXPECT_EQ(WaitForMultipleObjects(2, both, 100), kWaitTimeout);
  EXPECT_GE(firstLine->rounds_, 1);
  EXPECT_EQ(firstLine->leaves_, 1);
  EXPECT_EQ(firstLine->attends_, 0);
  EXPECT_EQ(secondLine->rounds_, 0);
  EXPECT_EQ(secondLine->attends_, 1);
  EXPECT_EQ(secondLine->unattends_, 1);
  EXPECT_EQ(secondLine->leaves_, 0);
}

TEST(DrivenWait, ADriverGivenLaterWakesAThreadAsleepOnTheEvent) {
  Event done(true, false);
  auto line = std::make_shared<SilentLine>(done.Handle(), 1);
  std::atomic<long> msAfterDriver{-1};
  std::atomic<std::chrono::steady_clock::time_point> driverSet{};
  std::thread sleeper([&] {
    if (WaitForSingleObject(done.Handle(), 5000) == kWaitObject0) {
      msAfterDriver = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - driverSet.load())
                          .count();
    }
  });
  std::this_thread::sleep_for(50ms);
  driverSet = std::chrono::steady_clock::now();
  SetEventDriver(done.Handle(), line);
  sleeper.join();
  EXPECT_GE(msAfterDriver.load(), 0);
  EXPECT_LT(msAfterDriver.load(), 2000) << "the thread slept on undriven until its time was up";
  EXPECT_EQ(line->rounds_, 1);
}

}  // namespace
}  // namespace rt
