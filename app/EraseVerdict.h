// The result of one erase: whether the range read back erased, and what the console said while
// the erase line ran. The read-back decides; the console's words explain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ConsoleReply.h"
#include "app/ReadBack.h"

namespace app {

enum class EraseResult {
  None,        // no erase has ended (not sent, or still running)
  Complete,    // the range read back erased (or the read-back is switched off and nothing failed)
  Failed,      // the range did not read back erased, or the console reported a failure
  Unverified,  // the console could not read the range back and reported no failure
};

// "COMPLETE", "FAILED", "UNVERIFIED"; empty for None. Also the window's state words.
const char* EraseResultWord(EraseResult result);

// How long the console has to answer the read-back, from the command's sending.
inline constexpr int kReadBackLimitMs = 30000;

struct EraseVerdict {
  EraseResult result = EraseResult::None;
  // Why, for Failed and Unverified: the console's first failure line or what the tool found,
  // made fit to show.
  std::string reason;
  bool readBackOn = true;
  FlashRange range;
  // The read-back: the command sent (empty when none went out), the answer line as received,
  // the CRC it gave and the one an erased range has.
  std::string command;
  std::string answer;
  std::optional<std::uint32_t> crcRead;
  std::uint32_t crcExpected = 0;
  // The range read back erased: true or false when an answer for the range came, else empty.
  std::optional<bool> erased;
  // What the console said while the erase line ran that speaks of a failure, or that warns. On
  // a range that read back erased, every complaint is only a warning.
  std::vector<std::string> failures, warnings;
  // What the console sent after the erase line up to its prompt (bounded), and after the
  // read-back command.
  std::string reply;
  bool replyCut = false;
  std::string readBackReply;
};

// Decides from the erase line's reply and, with the read-back on, the read-back's reply (one that
// has not ended had no prompt within kReadBackLimitMs; nullptr: the command never went out).
EraseVerdict DecideVerdict(const FlashRange& range, const ConsoleReply& eraseReply, bool readBackOn,
                           const std::string& command, const ConsoleReply* readBackReply);

// The status text that tells the technician the result, ending with what to do.
std::string VerdictStatus(const EraseVerdict& verdict);
// The same once the port has closed.
std::string ClosedStatus(const EraseVerdict& verdict);

}  // namespace app
