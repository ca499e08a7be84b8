#include "app/EraseVerdict.h"

namespace app {

namespace {

constexpr const char* kSwitchOff = "please switch Box to Power OFF";

std::string RangeText(const FlashRange& range) {
  return Hex8(range.first) + ".." + Hex8(range.last);
}

}  // namespace

const char* EraseResultWord(EraseResult result) {
  switch (result) {
    case EraseResult::Complete:
      return "COMPLETE";
    case EraseResult::Failed:
      return "FAILED";
    case EraseResult::Unverified:
      return "UNVERIFIED";
    case EraseResult::None:
      break;
  }
  return "";
}

EraseVerdict DecideVerdict(const FlashRange& range, const ConsoleReply& eraseReply, bool readBackOn,
                           const std::string& command, const ConsoleReply* readBackReply) {
  EraseVerdict v;
  v.range = range;
  v.readBackOn = readBackOn;
  v.command = command;
  v.crcExpected = Crc32OfErased(range.Count());
  v.failures = eraseReply.Failures();
  v.warnings = eraseReply.Warnings();
  v.reply = eraseReply.Text();
  v.replyCut = eraseReply.TextCut();
  if (readBackReply != nullptr) v.readBackReply = readBackReply->Text();
  const std::string firstFailure = v.failures.empty() ? std::string() : ShownText(v.failures[0]);

  auto notVerified = [&](const std::string& why) {
    // A console that reported a failure has said enough; otherwise nobody knows.
    v.result = v.failures.empty() ? EraseResult::Unverified : EraseResult::Failed;
    v.reason = v.failures.empty() ? why : firstFailure;
    return v;
  };

  if (!readBackOn) {
    v.result = v.failures.empty() ? EraseResult::Complete : EraseResult::Failed;
    v.reason = firstFailure;
    return v;
  }
  if (readBackReply == nullptr) return notVerified("the read-back command was not sent");
  if (!readBackReply->Ended()) {
    return notVerified("no answer to \"" + command + "\" within " +
                       std::to_string(kReadBackLimitMs / 1000) + " s");
  }
  const std::optional<CrcAnswer>& answer = readBackReply->Answer();
  if (!answer) {
    const auto& lines = readBackReply->Failures();
    return notVerified(lines.empty() ? "the console gave no answer to \"" + command + "\""
                                     : "the console cannot read back: " + ShownText(lines[0]));
  }
  v.answer = readBackReply->AnswerLine();
  v.crcRead = answer->crc;
  if (!(answer->range == range)) {
    return notVerified("the console read back " + RangeText(answer->range) + ", not " +
                       RangeText(range));
  }
  v.erased = answer->crc == v.crcExpected;
  if (*v.erased) {
    // What the console complained of did not keep the range from reading back erased.
    v.warnings.insert(v.warnings.begin(), v.failures.begin(), v.failures.end());
    v.failures.clear();
    v.result = EraseResult::Complete;
    return v;
  }
  v.result = EraseResult::Failed;
  v.reason = !firstFailure.empty() ? firstFailure
                                   : "the range does not read back erased: crc32 " +
                                         Hex8(answer->crc) + ", expected " + Hex8(v.crcExpected);
  return v;
}

std::string VerdictStatus(const EraseVerdict& v) {
  switch (v.result) {
    case EraseResult::Complete:
      return v.readBackOn ? std::string("Complete, ") + kSwitchOff
                          : std::string("Complete (not verified), ") + kSwitchOff;
    case EraseResult::Failed:
      return "Erase failed: " + v.reason + ", " + kSwitchOff;
    case EraseResult::Unverified:
      return "Erase not verified: " + v.reason + ", " + kSwitchOff;
    case EraseResult::None:
      break;
  }
  return std::string("Complete, ") + kSwitchOff;
}

std::string ClosedStatus(const EraseVerdict& v) {
  switch (v.result) {
    case EraseResult::Failed:
    case EraseResult::Unverified:
      // The reason stays in sight: it is what the technician has to act on.
      return VerdictStatus(v);
    case EraseResult::Complete:
      if (!v.readBackOn) return std::string("COM Port closed, erase not verified, ") + kSwitchOff;
      break;
    case EraseResult::None:
      break;
  }
  return std::string("COM Port closed, ") + kSwitchOff;
}

}  // namespace app
