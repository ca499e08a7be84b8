// Rounds of random concurrent work on two ports, a pty (A) and a network port to a scripted
// server (B): reads with every shape of COMMTIMEOUTS, writes, a thread waiting for comm events
// of both ports at once, purges, ClearCommError / GetOverlappedResult(FALSE) / modem-status
// pollers, and a server that suspends and resumes the flow of data. Each waiting thread waits
// its own way (without a limit, in slices, in GetOverlappedResult, polling). Every transfer must
// complete within a bound after what completes it: the bytes that satisfy every read posted
// (sent once per round), the server's RESUME, the purge that aborts it, or its own start. A lost
// lead shows as a transfer that completes late or never; debug builds also check the lead's
// invariant wherever the engine gives its lock up. Bytes are counted both ways.
//
// CI runs a few rounds; scripts/stress.sh runs thousands:
//   ZW_STRESS_ROUNDS  rounds (default 12)
//   ZW_STRESS_SEED    the random seed (default: from the clock; printed, to repeat a run)
//   ZW_STRESS_SLACK_MS  how late a completion may be (default 2000)
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/pty/EngineFixture.h"
#include "tests/unit/serial/posix/ScriptedServer.h"

namespace {

using namespace ptytest;
using TimePoint = SteadyClock::time_point;

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// The streams count 1 to 250 over and over: the tool's line drops NUL bytes, and a read that
// lost or doubled a byte breaks the count.
std::uint8_t Next(std::uint8_t b) {
  return static_cast<std::uint8_t>(b % 250 + 1);
}

long MsBetween(TimePoint from, TimePoint to) {
  return static_cast<long>(std::chrono::duration_cast<Ms>(to - from).count());
}

struct ReadShape {
  std::uint32_t interval, multiplier, constant;
};
// Every case of the Windows driver's table, and a total beyond what the clock counts.
constexpr ReadShape kReadShapes[] = {
    {drv::kMaxDword, 0, 0},
    {drv::kMaxDword, drv::kMaxDword, 40},
    {drv::kMaxDword, 0, 100},
    {drv::kMaxDword, 1, 20},
    {drv::kMaxDword, 0, drv::kMaxDword},
    {30, 0, 0},
    {20, 2, 60},
    {0, 0, 0},
    {0, 0, 50},
    {0, drv::kMaxDword - 1, 0},
};

enum class WaitStyle { kNoLimit, kSlices, kOverlappedResult, kPolling };
constexpr const char* kStyleNames[] = {"without a limit", "in slices", "in GetOverlappedResult",
                                       "polling"};

// What completes a transfer, and so when it is due.
enum class Trigger { kDataA, kDataB, kResume, kStart };

// One transfer as the thread that waited for it saw it.
struct Outcome {
  std::string what;
  Trigger trigger = Trigger::kStart;
  TimePoint started{}, returned{};
  std::uint32_t error = 0;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> bytes;
};

// Transfer blocks the pollers may look at while they are pending.
class Pending {
 public:
  void Add(drv::Handle h, drv::Overlapped* ov) {
    std::lock_guard lock(m_);
    blocks_.emplace_back(h, ov);
  }
  std::pair<drv::Handle, drv::Overlapped*> Any(std::mt19937& rng) {
    std::lock_guard lock(m_);
    if (blocks_.empty()) return {drv::kInvalidHandle, nullptr};
    return blocks_[std::uniform_int_distribution<std::size_t>(0, blocks_.size() - 1)(rng)];
  }

 private:
  std::mutex m_;
  std::vector<std::pair<drv::Handle, drv::Overlapped*>> blocks_;
};

// Waits for a started transfer in the given style until it has completed.
void AwaitCompletion(drv::Handle h, Transfer& t, WaitStyle style) {
  std::uint32_t count = 0;
  switch (style) {
    case WaitStyle::kNoLimit:
      rt::WaitForSingleObject(t.ov.hEvent, rt::kInfinite);
      return;
    case WaitStyle::kSlices:
      while (rt::WaitForSingleObject(t.ov.hEvent, 7) != rt::kWaitObject0) {
      }
      return;
    case WaitStyle::kOverlappedResult:
      D().GetOverlappedResult(h, &t.ov, &count, true);
      return;
    case WaitStyle::kPolling:
      while (!D().GetOverlappedResult(h, &t.ov, &count, false) &&
             D().GetLastError() == drv::kErrorIoIncomplete) {
        std::this_thread::sleep_for(Ms(1));
      }
      return;
  }
}

class EngineStress : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = OpenPort(pty_.SlavePath());
    ASSERT_NE(a_, drv::kInvalidHandle) << D().GetLastError();
    ASSERT_TRUE(D().SetCommState(a_, ToolDcb()));
    b_ = OpenPort(server_.Url());
    ASSERT_NE(b_, drv::kInvalidHandle) << D().GetLastError();
    ASSERT_TRUE(server_.AwaitClient(Ms(5000)));
    ASSERT_TRUE(D().SetCommState(b_, ToolDcb()));
    ASSERT_TRUE(D().SetCommMask(a_, drv::kEvRxChar | drv::kEvTxEmpty));
    ASSERT_TRUE(D().SetCommMask(b_, drv::kEvRxChar));
  }
  void TearDown() override {
    if (a_ != drv::kInvalidHandle) D().CloseHandle(a_);
    if (b_ != drv::kInvalidHandle) D().CloseHandle(b_);
  }

  void RunRound(int round);
  // Takes what is left in a port until `expected` bytes have come in all, or 3 s pass.
  std::size_t Drain(drv::Handle h, std::size_t expected);
  void Fail(const std::string& text) {
    std::lock_guard lock(failuresLock_);
    failures_.push_back(text);
  }

  PtyPair pty_;
  nettest::ScriptedServer server_{{}};
  drv::Handle a_ = drv::kInvalidHandle, b_ = drv::kInvalidHandle;
  std::mt19937 rng_;
  long slackMs_ = 2000;
  long latestMs_ = 0;
  std::size_t transfers_ = 0;
  std::uint8_t nextA_ = 0, nextB_ = 0;  // the streams' last bytes
  std::size_t serverData_ = 0;          // what the server has received of B's writes
  std::mutex failuresLock_;
  std::vector<std::string> failures_;
  std::mutex timeoutsA_, timeoutsB_;  // SetCommTimeouts and the transfer that uses them
};

std::size_t EngineStress::Drain(drv::Handle h, std::size_t expected) {
  std::size_t got = 0;
  const auto start = SteadyClock::now();
  EXPECT_TRUE(D().SetCommTimeouts(h, Timeouts(drv::kMaxDword, 0, 0)));
  while (got < expected && ElapsedMs(start) < 3000) {
    std::uint8_t buf[512];
    std::uint32_t done = 0;
    Transfer t;
    if (!D().ReadFile(h, buf, sizeof buf, &done, &t.ov)) break;
    got += done;
    if (done == 0) std::this_thread::sleep_for(Ms(2));
  }
  return got;
}

void EngineStress::RunRound(int round) {
  auto uniform = [this](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  };
  auto style = [&] { return static_cast<WaitStyle>(uniform(0, 3)); };
  // The plan, drawn before any thread starts.
  const int readersA = uniform(0, 4);
  const bool readerB = uniform(0, 1) == 1;
  const int writesA = uniform(0, 2);
  const int writesB = uniform(0, 3);
  const bool suspend = uniform(0, 1) == 1;
  const bool purgeA = uniform(0, 2) == 0;
  const bool purgeB = suspend && uniform(0, 3) == 0;
  const int dataAtA = uniform(5, 60), dataAtB = uniform(5, 60), resumeAt = uniform(10, 80);
  const int purgeAtA = uniform(0, dataAtA), purgeAtB = uniform(0, resumeAt);
  ASSERT_TRUE(
      D().SetupComm(a_, static_cast<std::uint32_t>(std::vector{16, 64, 4096}[uniform(0, 2)]), 0));
  // Events kept from the last round's draining would complete this round's waits at once.
  for (const drv::Handle h : {a_, b_}) ASSERT_TRUE(D().SetCommMask(h, 0));
  ASSERT_TRUE(D().SetCommMask(a_, drv::kEvRxChar | drv::kEvTxEmpty));
  ASSERT_TRUE(D().SetCommMask(b_, drv::kEvRxChar));
  struct ReadPlanOf {
    ReadShape shape;
    std::uint32_t count;
    WaitStyle style;
  };
  std::vector<ReadPlanOf> reads;
  std::size_t bytesA = 1;  // at least one, for EV_RXCHAR
  for (int i = 0; i < readersA + (readerB ? 1 : 0); ++i) {
    // Small counts half the time, so that one chunk completes several transfers at once.
    const int count = uniform(0, 1) ? uniform(1, 8) : uniform(9, 300);
    const ReadPlanOf r{kReadShapes[uniform(0, std::size(kReadShapes) - 1)],
                       static_cast<std::uint32_t>(count), style()};
    reads.push_back(r);
    if (i < readersA) bytesA += r.count;
  }
  const std::size_t bytesB = 1 + (readerB ? reads.back().count : 0);
  // The bytes come in one to four chunks, so that a read or a wait that the first completes
  // leaves others waiting for the next.
  auto chunks = [&](std::size_t total, int firstAt) {
    std::vector<std::pair<int, std::size_t>> parts;
    const int n = uniform(1, 4);
    int at = firstAt;
    for (int k = 0; k < n && total > 0; ++k) {
      const std::size_t size =
          k == n - 1 ? total
                     : static_cast<std::size_t>(uniform(1, std::min(static_cast<int>(total), 8)));
      parts.emplace_back(at, size);
      total -= size;
      at += uniform(1, 30);
    }
    return parts;
  };
  const auto chunksA = chunks(bytesA, dataAtA);
  const auto chunksB = chunks(bytesB, dataAtB);
  // Half the rounds without a poller, whose calls take in what a waiting thread should.
  const int pollers = std::max(0, uniform(-2, 2));  // none, one at a leisurely pace, a tight one
  std::vector<std::uint32_t> writeSizesA, writeSizesB;
  for (int i = 0; i < writesA; ++i)
    writeSizesA.push_back(static_cast<std::uint32_t>(uniform(1, 500)));
  for (int i = 0; i < writesB; ++i)
    writeSizesB.push_back(static_cast<std::uint32_t>(uniform(1, 1000)));
  const std::uint32_t writeTimeoutB =
      uniform(0, 1) ? 0 : static_cast<std::uint32_t>(uniform(20, 150));
  const WaitStyle writeStyleA = style(), writeStyleB = style(), watcherStyle = style();

  // Blocks outlive the threads that use them: the pollers may look at any of them meanwhile.
  std::deque<Transfer> blocks(reads.size() + writeSizesA.size() + writeSizesB.size() + 2);
  std::size_t nextBlock = 0;
  std::vector<Outcome> outcomes;
  std::mutex outcomesLock;
  auto record = [&](Outcome o) {
    std::lock_guard lock(outcomesLock);
    outcomes.push_back(std::move(o));
  };
  Pending pending;
  const TimePoint start = SteadyClock::now();
  TimePoint dataSentA{}, dataSentB{}, resumed{}, purgedA{}, purgedB{};
  std::atomic<bool> roundOver{false};
  std::atomic<int> busy{0};  // threads still waiting for a transfer
  std::vector<std::thread> threads;

  // A's device: the purge (before the data, so that it drops nothing but pending reads), the
  // bytes for every read, and a reader of what the port writes.
  std::atomic<std::size_t> receivedA{0};
  std::thread deviceA([&] {
    if (purgeA) {
      std::this_thread::sleep_until(start + Ms(purgeAtA));
      EXPECT_TRUE(D().PurgeComm(a_, drv::kPurgeRxAbort | drv::kPurgeRxClear));
      purgedA = SteadyClock::now();
    }
    for (const auto& [at, size] : chunksA) {
      std::this_thread::sleep_until(start + Ms(at));
      std::vector<std::uint8_t> data(size);
      for (auto& b : data) b = nextA_ = Next(nextA_);
      pty_.Send(data);
    }
    dataSentA = SteadyClock::now();
  });
  std::thread masterReader([&] {
    while (!roundOver) receivedA += pty_.Receive(1 << 20, Ms(10)).size();
  });
  // B's server: its flow suspended and resumed, a purge of the writes held back, its bytes.
  std::thread deviceB([&] {
    if (suspend) server_.SendComPort(108, {});
    if (purgeB) {
      std::this_thread::sleep_until(start + Ms(purgeAtB));
      EXPECT_TRUE(D().PurgeComm(b_, drv::kPurgeTxAbort));
      purgedB = SteadyClock::now();
    }
    // The resume falls between the chunks, at the latest before the last one: a port that has
    // read every byte has read the resume too, and starts the next round unsuspended.
    bool resumeDue = true;
    for (const auto& [at, size] : chunksB) {
      if (resumeDue && (resumeAt <= at || at == chunksB.back().first)) {
        std::this_thread::sleep_until(start + Ms(resumeAt));
        if (suspend) server_.SendComPort(109, {});
        resumed = SteadyClock::now();
        resumeDue = false;
      }
      std::this_thread::sleep_until(start + Ms(at));
      std::vector<std::uint8_t> data(size);
      for (auto& b : data) b = nextB_ = Next(nextB_);
      server_.SendData(data);
    }
    dataSentB = SteadyClock::now();
  });

  // Readers: each sets its port's timeouts and reads under that port's lock, then waits.
  for (std::size_t i = 0; i < reads.size(); ++i) {
    ++busy;
    threads.emplace_back([&, i, &t = blocks[nextBlock++]] {
      const ReadPlanOf& r = reads[i];
      const bool onA = static_cast<int>(i) < readersA;
      const drv::Handle h = onA ? a_ : b_;
      std::vector<std::uint8_t> buf(r.count);
      Outcome o;
      std::ostringstream what;
      what << "read " << (onA ? "A" : "B") << " of " << r.count << " with " << r.shape.interval
           << "/" << r.shape.multiplier << "/" << r.shape.constant << ", waited "
           << kStyleNames[static_cast<int>(r.style)];
      o.what = what.str();
      o.trigger = onA ? Trigger::kDataA : Trigger::kDataB;
      std::uint32_t done = 0;
      bool started;
      {
        std::lock_guard lock(onA ? timeoutsA_ : timeoutsB_);
        EXPECT_TRUE(D().SetCommTimeouts(
            h, Timeouts(r.shape.interval, r.shape.multiplier, r.shape.constant)));
        o.started = SteadyClock::now();
        started = D().ReadFile(h, buf.data(), r.count, &done, &t.ov) ||
                  D().GetLastError() == drv::kErrorIoPending;
      }
      if (started) {
        pending.Add(h, &t.ov);  // not before: a block being started is its caller's alone
        AwaitCompletion(h, t, r.style);
      }
      o.returned = SteadyClock::now();
      --busy;
      o.error = started ? static_cast<std::uint32_t>(t.ov.Internal) : D().GetLastError();
      o.count = static_cast<std::uint32_t>(t.ov.InternalHigh);
      o.bytes.assign(buf.begin(), buf.begin() + std::min(o.count, r.count));
      record(std::move(o));
    });
  }
  // Writers, one a port, so that their bytes reach the other end in their order.
  auto writer = [&](drv::Handle h, std::vector<std::uint32_t> sizes, WaitStyle how, bool onA) {
    ++busy;
    const std::size_t first = nextBlock;
    nextBlock += sizes.size();
    threads.emplace_back([&, h, sizes, how, onA, first] {
      for (std::size_t k = 0; k < sizes.size(); ++k) {
        const std::uint32_t size = sizes[k];
        Transfer& t = blocks[first + k];
        const std::vector<std::uint8_t> data(size, onA ? 'a' : 'b');
        Outcome o;
        o.what = std::string("write ") + (onA ? "A" : "B") + " of " + std::to_string(size) +
                 ", waited " + kStyleNames[static_cast<int>(how)];
        o.trigger = onA || !suspend ? Trigger::kStart : Trigger::kResume;
        std::uint32_t done = 0;
        bool started;
        {
          std::lock_guard lock(onA ? timeoutsA_ : timeoutsB_);
          EXPECT_TRUE(D().SetCommTimeouts(h, Timeouts(0, 0, 0, 0, onA ? 0 : writeTimeoutB)));
          o.started = SteadyClock::now();
          started = D().WriteFile(h, data.data(), size, &done, &t.ov) ||
                    D().GetLastError() == drv::kErrorIoPending;
        }
        if (started) {
          pending.Add(h, &t.ov);
          AwaitCompletion(h, t, how);
        }
        o.returned = SteadyClock::now();
        o.error = started ? static_cast<std::uint32_t>(t.ov.Internal) : D().GetLastError();
        o.count = static_cast<std::uint32_t>(t.ov.InternalHigh);
        record(std::move(o));
      }
      --busy;
    });
  };
  writer(a_, writeSizesA, writeStyleA, true);
  writer(b_, writeSizesB, writeStyleB, false);
  // One thread waits for comm events of both ports at once, then for the one still pending.
  ++busy;
  std::uint32_t eventWords[2] = {};
  threads.emplace_back([&, &waitA = blocks[nextBlock], &waitB = blocks[nextBlock + 1]] {
    Transfer* waits[2] = {&waitA, &waitB};
    const drv::Handle ports[2] = {a_, b_};
    bool started[2];
    TimePoint startedAt[2];
    for (int i = 0; i < 2; ++i) {
      startedAt[i] = SteadyClock::now();
      started[i] = D().WaitCommEvent(ports[i], &eventWords[i], &waits[i]->ov) ||
                   D().GetLastError() == drv::kErrorIoPending;
      if (started[i]) pending.Add(ports[i], &waits[i]->ov);
    }
    TimePoint returned[2] = {};
    if (started[0] && started[1]) {
      const rt::EventHandle both[2] = {waits[0]->ov.hEvent, waits[1]->ov.hEvent};
      std::uint32_t first;
      do {
        first = rt::WaitForMultipleObjects(2, both,
                                           watcherStyle == WaitStyle::kNoLimit ? rt::kInfinite : 9);
      } while (first == rt::kWaitTimeout);
      returned[first - rt::kWaitObject0] = SteadyClock::now();
    }
    for (int i = 0; i < 2; ++i) {
      if (returned[i] != TimePoint{}) continue;
      if (started[i]) AwaitCompletion(ports[i], *waits[i], watcherStyle);
      returned[i] = SteadyClock::now();
    }
    --busy;
    for (int i = 0; i < 2; ++i) {
      Outcome o;
      o.what = std::string("comm-event wait of ") + (i == 0 ? "A" : "B") + " beside one of " +
               (i == 0 ? "B" : "A") + ", waited " + kStyleNames[static_cast<int>(watcherStyle)];
      o.trigger = i == 0 ? Trigger::kDataA : Trigger::kDataB;
      o.started = startedAt[i];
      o.returned = returned[i];
      o.error = started[i] ? static_cast<std::uint32_t>(waits[i]->ov.Internal) : 87;
      record(std::move(o));
    }
  });
  // Pollers: what a status display, or a caller that does not wait, does meanwhile.
  std::thread poller([&] {
    std::mt19937 rng(static_cast<unsigned>(round));
    while (pollers > 0 && busy > 0) {
      std::uint32_t errors = 0, status = 0, count = 0;
      drv::ComStat stat;
      switch (rng() % 4) {
        case 0:
          D().ClearCommError(a_, &errors, &stat);
          break;
        case 1:
          D().ClearCommError(b_, &errors, &stat);
          break;
        case 2:
          D().GetCommModemStatus(b_, &status);
          break;
        default:
          if (const auto [h, ov] = pending.Any(rng); ov)
            D().GetOverlappedResult(h, ov, &count, false);
      }
      if (pollers == 1 || rng() % 8 == 0) std::this_thread::sleep_for(Ms(1));
    }
  });

  // Every waiter must be back within the slack (and a second more) after the last trigger; one
  // that is not is released, and reported.
  deviceA.join();
  deviceB.join();
  const TimePoint giveUp = SteadyClock::now() + Ms(slackMs_ + 1000);
  while (busy > 0 && SteadyClock::now() < giveUp) std::this_thread::sleep_for(Ms(2));
  if (busy > 0) {
    Fail("round " + std::to_string(round) + ": " + std::to_string(busy.load()) +
         " threads still waiting " + std::to_string(slackMs_ + 1000) +
         " ms after the last trigger");
    for (const drv::Handle h : {a_, b_}) {
      D().PurgeComm(h, drv::kPurgeTxAbort | drv::kPurgeRxAbort);
      D().SetCommMask(h, h == a_ ? drv::kEvRxChar | drv::kEvTxEmpty : drv::kEvRxChar);
    }
  }
  for (auto& t : threads) t.join();
  poller.join();

  // How late each completion came after what completed it.
  std::size_t readA = 0, readB = 0;
  std::uint32_t writtenA = 0, writtenB = 0;
  for (const Outcome& o : outcomes) {
    TimePoint due = o.started;
    const bool aborted = o.error == drv::kErrorOperationAborted;
    if (aborted && o.what.rfind("read A", 0) == 0) {
      due = std::max(due, purgedA);
    } else if (aborted && o.what.rfind("write B", 0) == 0) {
      due = std::max(due, purgedB);
    } else if (o.trigger == Trigger::kDataA) {
      due = std::max(due, dataSentA);
    } else if (o.trigger == Trigger::kDataB) {
      due = std::max(due, dataSentB);
    } else if (o.trigger == Trigger::kResume) {
      due = std::max(due, resumed);
    }
    const long late = MsBetween(due, o.returned);
    latestMs_ = std::max(latestMs_, late);
    ++transfers_;
    if (late > slackMs_) {
      Fail("round " + std::to_string(round) + ": " + o.what + " completed " + std::to_string(late) +
           " ms after what completes it");
    }
    if (o.error != drv::kErrorSuccess && !aborted) {
      Fail("round " + std::to_string(round) + ": " + o.what + " failed with " +
           std::to_string(o.error));
    }
    for (std::size_t k = 1; k < o.bytes.size(); ++k) {
      if (o.bytes[k] != Next(o.bytes[k - 1])) {
        Fail("round " + std::to_string(round) + ": " + o.what + " has a gap at byte " +
             std::to_string(k));
        break;
      }
    }
    if (o.what.rfind("read A", 0) == 0) readA += o.bytes.size();
    if (o.what.rfind("read B", 0) == 0) readB += o.bytes.size();
    if (o.what.rfind("write A", 0) == 0) writtenA += o.count;
    if (o.what.rfind("write B", 0) == 0) writtenB += o.count;
  }
  // Every byte once: what the reads took plus what is left is what was sent.
  const std::size_t leftA = Drain(a_, bytesA - std::min(bytesA, readA));
  const std::size_t leftB = Drain(b_, bytesB - std::min(bytesB, readB));
  if (readA + leftA != bytesA || readB + leftB != bytesB) {
    Fail("round " + std::to_string(round) + ": bytes received A " + std::to_string(readA + leftA) +
         " of " + std::to_string(bytesA) + ", B " + std::to_string(readB + leftB) + " of " +
         std::to_string(bytesB));
  }
  const auto waitFrom = SteadyClock::now();
  while (receivedA < writtenA && ElapsedMs(waitFrom) < 3000) std::this_thread::sleep_for(Ms(2));
  roundOver = true;
  masterReader.join();
  serverData_ += writtenB;
  if (receivedA != writtenA || !server_.AwaitData(serverData_, Ms(3000)) ||
      server_.Data().size() != serverData_) {
    Fail("round " + std::to_string(round) + ": bytes written A " + std::to_string(writtenA) +
         " but " + std::to_string(receivedA) + " arrived, B " + std::to_string(serverData_) +
         " in all but " + std::to_string(server_.Data().size()) + " arrived");
  }
}

TEST_F(EngineStress, EveryTransferCompletesInTimeWhateverTheThreadsDo) {
  const long rounds = EnvNumber("ZW_STRESS_ROUNDS", 12);
  const auto seed = static_cast<unsigned>(
      EnvNumber("ZW_STRESS_SEED",
                static_cast<long>(SteadyClock::now().time_since_epoch().count() % 1000000007)));
  slackMs_ = EnvNumber("ZW_STRESS_SLACK_MS", 2000);
  rng_.seed(seed);
  for (long round = 0; round < rounds; ++round) {
    RunRound(static_cast<int>(round));
    if (HasFatalFailure()) break;
    std::lock_guard lock(failuresLock_);
    if (!failures_.empty()) break;
  }
  for (const std::string& f : failures_) ADD_FAILURE() << f << " (ZW_STRESS_SEED=" << seed << ")";
  std::printf(
      "stress: %ld rounds, seed %u: %zu transfers, the latest %ld ms after what completes it\n",
      rounds, seed, transfers_, latestMs_);
}

}  // namespace
