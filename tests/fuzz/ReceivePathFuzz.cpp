// The termios engine's receive path (raw tty bytes in PARMRK form to queue bytes, events and
// line errors) against a decoder written over the whole stream at once. The raw stream is cut
// into reads bounded by the queue's free space, as the engine reads, with a reader taking
// bytes out in between. Checked for every read:
// - exactly the bytes the whole-stream decoding gives for the marks completed in this read,
//   with NUL bytes dropped when asked and marked bytes replaced when asked;
// - EV_RXCHAR when bytes were added, EV_RXFLAG when the event character was among them,
//   EV_RX80FULL once per crossing of 80 %, EV_ERR / EV_BREAK with their CE_ bits;
// - the queue never holds more than its limit (one byte more only after a mark sequence that
//   no line discipline sends).
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/driver/posix/ReceivePath.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using drv::posix::InputKind;

struct Item {
  std::size_t completesAt;  // index of the raw byte that completes it
  InputKind kind;
  std::uint8_t byte;
};

// "\377\377" is 0xFF, "\377\0\0" a break, "\377\0c" c with a line error; "\377c" for any other
// c is no mark at all: both bytes are data. A sequence cut off at the end is still pending.
std::vector<Item> DecodeWhole(const std::vector<std::uint8_t>& raw, bool* strayMark) {
  std::vector<Item> items;
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != 0xFF) {
      items.push_back({i, InputKind::kData, raw[i]});
      ++i;
      continue;
    }
    if (i + 1 >= raw.size()) break;
    if (raw[i + 1] == 0xFF) {
      items.push_back({i + 1, InputKind::kData, 0xFF});
      i += 2;
    } else if (raw[i + 1] == 0x00) {
      if (i + 2 >= raw.size()) break;
      const std::uint8_t c = raw[i + 2];
      items.push_back({i + 2, c == 0 ? InputKind::kBreak : InputKind::kLineError, c});
      i += 3;
    } else {
      *strayMark = true;
      items.push_back({i + 1, InputKind::kData, 0xFF});
      items.push_back({i + 1, InputKind::kData, raw[i + 1]});
      i += 2;
    }
  }
  return items;
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
  drv::posix::ReceiveRules rules;
  const std::uint8_t switches = in.Byte();
  rules.discardNull = switches & 1;
  rules.checkParity = switches & 2;
  rules.replaceErrors = rules.checkParity && (switches & 4);
  rules.lineHasParity = switches & 8;
  rules.errorChar = in.Byte();
  rules.eventChar = in.Byte();
  const std::uint32_t limit = 1 + in.Below(switches & 0x80 ? 4096 : 48);
  std::uint32_t plan = in.U32() | 1;
  const std::string_view rest = in.Rest();
  const std::vector<std::uint8_t> raw(rest.begin(), rest.end());

  bool strayMark = false;
  const std::vector<Item> items = DecodeWhole(raw, &strayMark);
  std::size_t nextItem = 0;

  drv::posix::MarkedInputDecoder decoder;
  std::deque<std::uint8_t> queue;
  bool above80 = false;
  std::size_t consumed = 0;

  for (int round = 0; consumed < raw.size(); ++round) {
    const std::uint32_t r = Next(plan);
    const bool full = queue.size() >= limit;
    if (!queue.empty() && (full || r % 3 == 0)) {
      // The reader, as the engine serves a pending read.
      const std::size_t take = 1 + (r >> 4) % queue.size();
      queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(take));
      if (queue.size() * 5 < static_cast<std::size_t>(limit) * 4) above80 = false;
      continue;
    }
    const std::size_t room = limit - queue.size();
    std::size_t n = 1 + (r >> 8) % 40;
    if (n > room) n = room;
    if (n > raw.size() - consumed) n = raw.size() - consumed;

    // What the whole-stream decoding says this read completes.
    std::vector<std::uint8_t> added;
    std::uint32_t errors = 0, events = 0;
    while (nextItem < items.size() && items[nextItem].completesAt < consumed + n) {
      const Item& it = items[nextItem++];
      std::uint8_t b = it.byte;
      if (it.kind == InputKind::kBreak) {
        errors |= drv::kCeBreak;
        events |= drv::kEvBreak;
        continue;
      }
      if (it.kind == InputKind::kLineError) {
        errors |= rules.lineHasParity ? drv::kCeRxParity : drv::kCeFrame;
        events |= drv::kEvErr;
        if (rules.replaceErrors) b = rules.errorChar;
      }
      if (b == 0 && rules.discardNull) continue;
      added.push_back(b);
    }
    const bool latchBefore = above80;
    const std::size_t before = queue.size();
    const drv::posix::ReceiveOutcome got =
        drv::posix::TakeIntoQueue(raw.data() + consumed, n, decoder, rules, queue, limit, above80);

    const std::vector<std::uint8_t> queued(queue.begin() + static_cast<std::ptrdiff_t>(before),
                                           queue.end());
    FUZZ_CHECK(queued == added, "read %d of raw [%zu, %zu): %zu bytes queued, %zu expected", round,
               consumed, consumed + n, queued.size(), added.size());
    if (!added.empty()) {
      events |= drv::kEvRxChar;
      for (std::uint8_t b : added) {
        if (b == rules.eventChar) events |= drv::kEvRxFlag;
      }
      if (!latchBefore && queue.size() * 5 >= static_cast<std::size_t>(limit) * 4) {
        events |= drv::kEvRx80Full;
      }
    }
    FUZZ_CHECK(got.events == events, "read %d of raw [%zu, %zu): events %04x, expected %04x", round,
               consumed, consumed + n, got.events, events);
    FUZZ_CHECK(got.errors == errors, "read %d of raw [%zu, %zu): errors %04x, expected %04x", round,
               consumed, consumed + n, got.errors, errors);
    FUZZ_CHECK(queue.size() <= limit + (strayMark ? 1u : 0u),
               "read %d: %zu bytes queued over a limit of %u", round, queue.size(), limit);
    if (rules.discardNull) {
      for (std::uint8_t b : queued) FUZZ_CHECK(b != 0, "read %d: a NUL byte was queued", round);
    }
    consumed += n;
  }
  return 0;
}
