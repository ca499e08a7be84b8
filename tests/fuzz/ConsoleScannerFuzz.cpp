// The console scanner against the rule written out literally (the whole line kept as text):
// for any bytes and any chunking, both scans take the same decisions after every chunk, the
// line's kept memory stays bounded, and a chunking with no chunk ending in a line feed (and,
// while waking, no earlier prompt) decides the same as the whole text in one chunk. While
// erasing, the reply ends at the first prompt after a line of the console's own words (neither
// blank nor a prompt), and its kept text and complaints stay bounded.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/ConsoleLogic.h"
#include "app/ConsoleReply.h"
#include "app/ModuleState.h"
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

// Whether the completed lines of `text` hold one of the console's own: the whole line kept,
// carriage returns at its end ignored.
bool ReferenceSpoke(std::string_view text) {
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string_view::npos;
       lf = text.find('\n', start)) {
    std::string_view line = text.substr(start, lf - start);
    start = lf + 1;
    const bool blank = line.find_first_not_of(" \t\r") == std::string_view::npos;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view end = line.size() >= 3 ? line.substr(line.size() - 3) : line;
    if (!blank && end != "x> " && end != "X> ") return true;
  }
  return false;
}

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
  app::ConsoleReply reply;
  reply.Start();
  std::string received;
  int ends = 0;

  std::string line;
  bool lastDecision = false;
  bool cleanBoundaries = true;  // no earlier chunk ended in a line feed or found a prompt
  bool anyPrompt = false;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const std::string_view chunk = chunks[i];
    const bool expected = ReferenceScan(line, chunk);
    if (erasing) {
      const bool ended = app::ScanWhileErasing(chunk, reply);
      received.append(chunk);
      const bool shouldEnd = !anyPrompt && expected && ReferenceSpoke(received);
      anyPrompt = anyPrompt || shouldEnd;
      FUZZ_CHECK(ended == shouldEnd, "erasing, chunk %zu \"%s\": ended %d", i, Shown(chunk).c_str(),
                 ended);
      // A reply ends once; later prompts are no news.
      ends += ended ? 1 : 0;
      FUZZ_CHECK(ends <= 1 && reply.Ended() == anyPrompt, "erasing, chunk %zu: %d ends", i, ends);
      FUZZ_CHECK(reply.Text().size() <= app::ConsoleReply::kTextLimit &&
                     reply.Failures().size() <= app::ConsoleReply::kComplaintLimit &&
                     reply.Warnings().size() <= app::ConsoleReply::kComplaintLimit,
                 "erasing, chunk %zu: reply kept %zu bytes", i, reply.Text().size());
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
