// The console scanner against the rule written out literally (the whole line kept as text):
// for any bytes and any chunking, both scans take the same decisions after every chunk, the
// line's kept memory stays bounded, and a chunking with no chunk ending in a line feed (and,
// while waking, no earlier prompt) decides the same as the whole text in one chunk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConsoleLogic.h"
#include "app/ModuleState.h"
#include "gui/Forms.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

// The rule as written: the line gathers, a line feed at a chunk's end empties it, a prompt is
// six characters or more ending in "x> " or "X> ".
bool ReferenceScan(std::string& line, std::string_view chunk) {
  line.append(chunk);
  if (line.empty()) return false;
  if (line.back() == '\n') line.clear();
  if (line.size() <= 5) return false;
  const std::string_view end = std::string_view(line).substr(line.size() - 3);
  return end == "x> " || end == "X> ";
}

class CountingTimerPeer : public gui::TimerPeer {
 public:
  explicit CountingTimerPeer(int& starts) : starts_(starts) {}
  void Start(int) override { ++starts_; }
  void Stop() override {}

 private:
  int& starts_;
};

std::vector<std::string_view> Chunk(std::string_view text, fuzz::FuzzInput& cuts) {
  std::vector<std::string_view> chunks;
  while (!text.empty()) {
    // Mostly short chunks, now and then a long one, as a serial line delivers them.
    const std::uint8_t c = cuts.Byte();
    std::size_t n = (c & 0x80) ? (c & 0x7F) * 8u + 1u : (c & 0x0F) + 1u;
    if (n > text.size()) n = text.size();
    chunks.push_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return chunks;
}

std::string Shown(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const bool erasing = in.Bool();
  const std::string_view cutBytes = in.Bytes(in.Byte());
  fuzz::FuzzInput cuts(reinterpret_cast<const std::uint8_t*>(cutBytes.data()), cutBytes.size());
  const std::string_view text = in.Rest();
  const std::vector<std::string_view> chunks = Chunk(text, cuts);

  // The whole text as one chunk, by the written rule.
  std::string whole;
  const bool wholeDecision = ReferenceScan(whole, text);

  app::ResetModuleState();
  app::WakingUp = 1;
  int starts = 0;
  gui::Timer completion("Timer2");
  completion.SetInterval(1500);
  completion.AttachPeer(std::make_unique<CountingTimerPeer>(starts));

  std::string line;
  bool lastDecision = false;
  bool cleanBoundaries = true;  // no earlier chunk ended in a line feed or found a prompt
  bool anyPrompt = false;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const std::string_view chunk = chunks[i];
    const bool expected = ReferenceScan(line, chunk);
    if (erasing) {
      app::ScanWhileErasing(chunk, completion);
      anyPrompt = anyPrompt || expected;
      FUZZ_CHECK(completion.Enabled() == anyPrompt, "erasing, chunk %zu \"%s\"", i,
                 Shown(chunk).c_str());
      // A running completion timer is never restarted by a later prompt.
      FUZZ_CHECK(starts == (anyPrompt ? 1 : 0), "erasing, chunk %zu: %d starts", i, starts);
    } else {
      app::WakingUp = 1;
      app::ScanWhileWaking(chunk);
      FUZZ_CHECK((app::WakingUp == 0) == expected, "waking, chunk %zu \"%s\"", i,
                 Shown(chunk).c_str());
      if (expected) line.clear();
    }
    FUZZ_CHECK(app::ConsoleLine.Length() == line.size(), "chunk %zu: length %llu, expected %zu", i,
               static_cast<unsigned long long>(app::ConsoleLine.Length()), line.size());
    const std::size_t kept = std::min(line.size(), app::ConsoleLineBuffer::kKeptTail);
    FUZZ_CHECK(app::ConsoleLine.Tail() == std::string_view(line).substr(line.size() - kept),
               "chunk %zu: tail \"%s\" but line ends \"%s\"", i,
               Shown(app::ConsoleLine.Tail()).c_str(),
               Shown(std::string_view(line).substr(line.size() - kept)).c_str());
    FUZZ_CHECK(app::ConsoleLine.Tail().size() <= app::ConsoleLineBuffer::kKeptTail,
               "chunk %zu: %zu characters kept", i, app::ConsoleLine.Tail().size());
    lastDecision = expected;
    if (i + 1 < chunks.size() && (chunk.back() == '\n' || (!erasing && expected)))
      cleanBoundaries = false;
  }
  if (!chunks.empty() && cleanBoundaries) {
    FUZZ_CHECK(lastDecision == wholeDecision, "%zu chunks decide %d, one chunk %d: \"%s\"",
               chunks.size(), lastDecision, wholeDecision, Shown(text).c_str());
  }
  app::ResetModuleState();
  return 0;
}
