// The device console as the tool sees it: received bytes become 8-bit text, the text gathers
// into the current console line, and the console prompt is a line whose last three characters
// are "x> " or "X> " once the line holds at least six characters. A lone line feed at the end of
// a received chunk starts a new line; a line feed inside a chunk does not.
//
// The line is kept in bounded memory: the prompt rule only ever looks at the line's length
// (up to six) and its last three characters, so a stream that never sends a line feed cannot
// grow it without limit, and every decision is the same as with the whole line kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app {

class ConsoleReply;

// Sent once per wake-up tick and after each command line. Never a carriage return.
inline constexpr std::uint8_t WakeByte = 0x0A;

// Unprotect, erase and re-protect the flash range, then show COMPLETE on the display. The
// configuration area starts at a1b00000, the user data at a1c00000.
inline constexpr std::string_view EraseScriptWithConfig =
    "protect off a1b00000 a1ffffff;erase a1b00000 a1ffffff;protect on a1b00000 a1ffffff;"
    "vfd COMPLETE";
inline constexpr std::string_view EraseScriptUserOnly =
    "protect off a1c00000 a1ffffff;erase a1c00000 a1ffffff;protect on a1c00000 a1ffffff;"
    "vfd COMPLETE";

// One character per byte, no conversion; a count of 0 or less gives empty text.
std::string BytesToText(const std::uint8_t* bytes, int count);

// The text received since the line was last emptied, as far as the prompt rule needs it.
class ConsoleLineBuffer {
 public:
  // Characters kept for the prompt test and for showing the line's end.
  static constexpr std::size_t kKeptTail = 64;

  void Append(std::string_view text);
  void Clear();
  bool Empty() const { return length_ == 0; }
  // Characters received since the last reset (saturates far beyond anything the rule needs).
  std::uint64_t Length() const { return length_; }
  // The last kKeptTail characters at most.
  const std::string& Tail() const { return tail_; }
  bool EndsWithLineFeed() const;
  // Six characters or more, ending in "x> " or "X> ".
  bool EndsInPrompt() const;

 private:
  std::string tail_;
  std::uint64_t length_ = 0;
};

// Steps shared by both scans: append the chunk, empty the line when it now ends in a line feed,
// and report whether it ends in the prompt.
bool AppendAndFindPrompt(ConsoleLineBuffer& line, std::string_view chunk);

// While waiting for the console: a prompt ends the waking (WakingUp := 0), is kept as the
// console's prompt (PromptText) and empties the line.
void ScanWhileWaking(std::string_view text);
// While a command line sent to the console runs (the erase, then its read-back): the chunk goes
// into the console line and into the line's reply; true when it ended the reply (its prompt has
// come after the console's own words). The line keeps its text.
bool ScanWhileErasing(std::string_view text, ConsoleReply& reply);

}  // namespace app
