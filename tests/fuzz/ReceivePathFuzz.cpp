// The termios engine's receive queue (raw tty bytes in PARMRK form to queue bytes, events and
// line errors; runs copied whole) against a reference that does everything one byte at a time
// over a std::deque, written for clarity alone. The raw stream is cut into reads bounded by the
// queue's free space, as the engine reads; between reads a reader takes bytes out, and now and
// then the limit changes (below the content too), the queue is purged, the rules change or the
// line switches between marked and unmarked. Checked after every step:
// - the events and CE_ bits of each read, the bytes each take hands out, Size() and Free();
// - the queue never holds more than its limit after a read it had room for (one byte more only
//   after a mark sequence that no line discipline sends).
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/driver/posix/engine/ReceiveQueue.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using drv::posix::ReceiveRules;

// "\377\377" is 0xFF, "\377\0\0" a break, "\377\0c" c with a line error; "\377c" for any other
// c is no mark at all: both bytes are data. Unmarked, every byte is data.
class SlowQueue {
 public:
  ReceiveRules rules;
  bool marked = true;
  std::uint32_t limit = 4096;

  drv::posix::ReceiveQueue::Arrival Accept(const std::uint8_t* raw, std::size_t n) {
    arrival_ = {};
    const std::size_t before = bytes_.size();
    for (std::size_t i = 0; i < n; ++i) Step(raw[i]);
    if (bytes_.size() > before) {
      arrival_.events |= drv::kEvRxChar;
      if (!above80_ && AtOrAbove80()) {
        above80_ = true;
        arrival_.events |= drv::kEvRx80Full;
      }
    }
    return arrival_;
  }
  std::vector<std::uint8_t> Take(std::size_t max) {
    const std::size_t n = std::min(max, bytes_.size());
    std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    if (!AtOrAbove80()) above80_ = false;
    return out;
  }
  void SetLimit(std::uint32_t l) {
    limit = l;
    above80_ = AtOrAbove80();
  }
  void SetMarked(bool m) {
    marked = m;
    open_.clear();
  }
  void Clear() {
    bytes_.clear();
    open_.clear();
    above80_ = false;
  }
  std::size_t Size() const { return bytes_.size(); }
  std::uint32_t Free() const {
    return bytes_.size() >= limit ? 0 : limit - static_cast<std::uint32_t>(bytes_.size());
  }

 private:
  bool AtOrAbove80() const { return bytes_.size() * 5 >= static_cast<std::size_t>(limit) * 4; }

  void Step(std::uint8_t b) {
    if (!marked) return Data(b);
    open_.push_back(b);
    if (open_[0] != 0xFF) {
      open_.clear();
      return Data(b);
    }
    if (open_.size() == 2 && open_[1] != 0x00) {
      Data(0xFF);
      if (open_[1] != 0xFF) Data(open_[1]);
      open_.clear();
    } else if (open_.size() == 3) {
      const std::uint8_t c = open_[2];
      open_.clear();
      if (c == 0) {
        arrival_.errors |= drv::kCeBreak;
        arrival_.events |= drv::kEvBreak;
        return;
      }
      arrival_.errors |= rules.lineHasParity ? drv::kCeRxParity : drv::kCeFrame;
      arrival_.events |= drv::kEvErr;
      Data(rules.replaceErrors ? rules.errorChar : c);
    }
  }
  void Data(std::uint8_t b) {
    if (b == 0 && rules.discardNull) return;
    if (b == rules.eventChar) arrival_.events |= drv::kEvRxFlag;
    bytes_.push_back(b);
  }

  std::deque<std::uint8_t> bytes_;
  std::vector<std::uint8_t> open_;  // the mark sequence read so far
  bool above80_ = false;
  drv::posix::ReceiveQueue::Arrival arrival_;
};

ReceiveRules RulesFrom(std::uint8_t switches, std::uint8_t errorChar, std::uint8_t eventChar) {
  ReceiveRules rules;
  rules.discardNull = switches & 1;
  rules.checkParity = switches & 2;
  rules.replaceErrors = rules.checkParity && (switches & 4);
  rules.lineHasParity = switches & 8;
  rules.errorChar = errorChar;
  rules.eventChar = eventChar;
  return rules;
}

std::uint32_t Next(std::uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint8_t switches = in.Byte();
  const std::uint8_t errorChar = in.Byte();
  const std::uint8_t eventChar = in.Byte();
  const std::uint32_t limitRange = switches & 0x80 ? 4096 : 48;
  const std::uint32_t limit = 1 + in.Below(limitRange);
  std::uint32_t plan = in.U32() | 1;
  const std::string_view rest = in.Rest();
  const std::vector<std::uint8_t> raw(rest.begin(), rest.end());

  drv::posix::ReceiveQueue queue;
  SlowQueue slow;
  slow.rules = RulesFrom(switches, errorChar, eventChar);
  queue.SetRules(slow.rules);
  queue.SetLimit(limit);
  slow.SetLimit(limit);

  std::vector<std::uint8_t> got;
  std::size_t consumed = 0;
  for (int step = 0; consumed < raw.size(); ++step) {
    const std::uint32_t r = Next(plan);
    const std::uint32_t pick = r % 64;
    if (pick == 0) {
      const std::uint32_t l = 1 + (r >> 6) % limitRange;
      queue.SetLimit(l);
      slow.SetLimit(l);
    } else if (pick == 1) {
      queue.Clear();
      slow.Clear();
    } else if (pick == 2) {
      slow.rules = RulesFrom(static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r >> 16),
                             r & 0x40 ? eventChar : static_cast<std::uint8_t>(r >> 24));
      queue.SetRules(slow.rules);
    } else if (pick == 3 && (switches & 0x40)) {
      queue.SetMarked(!slow.marked);
      slow.SetMarked(!slow.marked);
    } else if (slow.Size() != 0 && (queue.Free() == 0 || pick % 3 == 0)) {
      // The reader, as the engine serves a pending read.
      const std::size_t max = 1 + (r >> 6) % (slow.Size() + 8);
      const std::vector<std::uint8_t> want = slow.Take(max);
      got.assign(max, 0xA5);
      const std::uint32_t n = queue.Take(got.data(), static_cast<std::uint32_t>(max));
      got.resize(n);
      FUZZ_CHECK(got == want, "step %d, take of %zu after raw [0, %zu): %u bytes, %zu expected%s",
                 step, max, consumed, n, want.size(), n == want.size() ? " (content differs)" : "");
    } else {
      // Room there is: a full queue holds bytes, and the reader has just been chosen for it.
      const std::size_t room = queue.Free();
      std::size_t n = 1 + (r >> 8) % (r & 0x80 ? 4096 : 40);
      n = std::min({n, room, raw.size() - consumed});
      const auto want = slow.Accept(raw.data() + consumed, n);
      const auto arrival = queue.Accept(raw.data() + consumed, n);
      FUZZ_CHECK(arrival.events == want.events,
                 "step %d, read of raw [%zu, %zu): events %04x, expected %04x", step, consumed,
                 consumed + n, arrival.events, want.events);
      FUZZ_CHECK(arrival.errors == want.errors,
                 "step %d, read of raw [%zu, %zu): errors %04x, expected %04x", step, consumed,
                 consumed + n, arrival.errors, want.errors);
      FUZZ_CHECK(queue.Size() <= static_cast<std::size_t>(slow.limit) + 1,
                 "step %d: %zu bytes queued over a limit of %u", step, queue.Size(), slow.limit);
      consumed += n;
    }
    FUZZ_CHECK(queue.Size() == slow.Size() && queue.Free() == slow.Free(),
               "step %d after raw [0, %zu): size %zu free %u, expected size %zu free %u", step,
               consumed, queue.Size(), queue.Free(), slow.Size(), slow.Free());
  }
  const std::vector<std::uint8_t> want = slow.Take(slow.Size());
  got.assign(want.size() + 1, 0xA5);
  got.resize(queue.Take(got.data(), static_cast<std::uint32_t>(got.size())));
  FUZZ_CHECK(got == want, "the rest after raw [0, %zu): %zu bytes, %zu expected", consumed,
             got.size(), want.size());
  return 0;
}
