// What the console says to one command line the tool sent, from the line's sending to the
// prompt that ends it.
//
// Input that arrived before the line was sent has been dropped, but prompts the console earned
// for extra wake-up line feeds may still be on their way (a slow line, a serial server far away).
// So a prompt ends the reply only after the console has said something of its own since the line
// went out: a line that is neither blank nor a prompt (the echo of the line, or for a console
// that does not echo, its first words). Stale prompts are blank lines and prompt lines, and the
// rest of a prompt whose beginning was dropped with the input before the line.
//
// Along the way it keeps the reply's text (bounded), the lines that complain of a failure or
// warn, and the first read-back answer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ReadBack.h"

namespace app {

enum class Complaint { None, Warning, Failure };

// Whether a console line speaks of a failure (the erase did not, or not wholly, happen), of
// something harmless that did not work (the display), or of neither.
Complaint ClassifyConsoleLine(std::string_view line);

// Console text made fit to show: printable ASCII stays, every other byte becomes \xNN; cut to
// `limit` characters with "..." when longer.
std::string ShownText(std::string_view text, std::size_t limit = 160);

class ConsoleReply {
 public:
  static constexpr std::size_t kTextLimit = 8192;
  static constexpr std::size_t kLineLimit = 512;
  static constexpr std::size_t kComplaintLimit = 16;

  // A command line has just been sent: forget the last reply. prompt: the console's prompt as
  // it was seen while waking (empty when unknown).
  void Start(std::string_view prompt = {});
  // A chunk of the reply. promptAtEnd: the console line now ends in the prompt (by the prompt
  // rule of ConsoleLogic). True when this chunk ended the reply.
  bool Feed(std::string_view chunk, bool promptAtEnd);

  bool Ended() const { return ended_; }
  // The console has said something of its own since the line went out.
  bool Spoke() const { return spoke_; }
  // Everything received since the line was sent, up to kTextLimit bytes.
  const std::string& Text() const { return text_; }
  bool TextCut() const { return textCut_; }
  // The complaining lines, as received (without their line end), the first kComplaintLimit each.
  const std::vector<std::string>& Failures() const { return failures_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }
  // The first read-back answer line and what it says.
  const std::optional<CrcAnswer>& Answer() const { return answer_; }
  const std::string& AnswerLine() const { return answerLine_; }

 private:
  static constexpr std::size_t kTailLimit = 16;

  void KeepInTail(char c);
  void LineEnded();

  std::string prompt_;
  std::string text_;
  bool textCut_ = false;
  std::string line_;               // the line being received, up to kLineLimit
  std::string lineTail_;           // its last characters but the carriage returns ending it so far
  std::size_t endingReturns_ = 0;  // those carriage returns
  bool lineBlank_ = true;          // nothing but blanks and carriage returns in it so far
  bool spoke_ = false;
  bool ended_ = false;
  std::vector<std::string> failures_, warnings_;
  std::optional<CrcAnswer> answer_;
  std::string answerLine_;
};

}  // namespace app
