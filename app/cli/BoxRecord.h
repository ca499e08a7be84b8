// The record of one Box's erase: what a certificate of erasure is made from. Encoded as one line
// of JSON, so that a file of them can be appended to while it is read, and read by any tool.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/EraseVerdict.h"

namespace cli {

// What the Box says is kept up to these many bytes.
inline constexpr std::size_t kBootTextLimit = 4096;
inline constexpr std::size_t kReplyLimit = 8192;

struct BoxError {
  std::string text;               // as the error box showed it
  std::optional<int> code;        // the serial component's code (1..14), when it was its error
  std::optional<int> systemCode;  // the OS error in Windows numbering, when there was one
};

struct BoxRecord {
  using Time = std::chrono::system_clock::time_point;
  Time start, end;
  std::string host, port, device;
  bool withConfiguration = false;
  // The erase command line exactly as written, its line feed included; empty if never sent.
  std::string command;
  // The Box's text up to the first line feed the tool sent: the banner naming model and firmware.
  std::string bootText;
  bool bootTextCut = false;  // more came than kBootTextLimit
  // The reply to the erase command line, its echo included, up to the prompt that ended it (or,
  // for a run that ended before, up to the end). Input that came before the line went out is
  // not part of it.
  std::string reply;
  bool replyCut = false;
  // Whether the erased range was to be read back, the read-back command if it went out, and the
  // erase's result as the window decided it (empty when the run ended before).
  bool readBackOn = true;
  std::string readBackCommand;
  std::optional<app::EraseVerdict> verdict;
  int status = 0;       // the exit status of this Box's run
  std::string message;  // the run's last word: the result or what went wrong
  std::optional<BoxError> error;
  std::optional<double> wakingSeconds;   // first word to "Receiver connected"
  std::optional<double> erasingSeconds;  // erase line sent to the port closed, or to the end
};

// "COMPLETE" (the range read back erased, or was not to be read back and the Box reported no
// failure), "UNVERIFIED" (it could not be read back) or "FAILED" (anything else: the range did
// not read back erased, the Box refused, or the run ended before the erase's result was known),
// from a run's exit status.
const char* ResultName(int status);
// One JSON object and a line feed. Received text is 8-bit: each byte becomes the character of
// the same code (ISO 8859-1), so nothing is lost and any byte is valid in the line.
std::string EncodeRecord(const BoxRecord& record);
// UTC, ISO 8601, milliseconds: 2024-05-01T09:30:00.250Z.
std::string IsoUtc(BoxRecord::Time time);
std::string Latin1ToUtf8(std::string_view bytes);
// The first and last address of the range an erase command line erases ("a1c00000",
// "a1ffffff"); empty strings when the line holds no erase command.
std::pair<std::string, std::string> EraseRange(std::string_view commandLine);

}  // namespace cli
