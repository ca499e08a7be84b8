#include "app/ConsoleReply.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace app {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// How boot consoles begin the lines that report a command that did not do its work.
constexpr std::array<std::string_view, 9> kFailureStarts = {
    "error", "usage:", "unknown command", "bad ", "can't", "cannot", "warning", "failed", "fail:",
};
// And what such lines say elsewhere: sectors left as they were, a chip that refuses.
constexpr std::array<std::string_view, 13> kFailureWords = {
    "not erased",      "will not be erased", "is protected", "are protected",
    "write protected", "write-protected",    "failed",       "timeout",
    "timed out",       "not supported",      "invalid",      "not inside",
    "not on sector",
};

}  // namespace

Complaint ClassifyConsoleLine(std::string_view line) {
  // A carriage return inside a line overwrites what came before it on a terminal.
  const std::size_t cr = line.find_last_of('\r');
  if (cr != std::string_view::npos) line.remove_prefix(cr + 1);
  while (!line.empty() &&
         std::string_view(" \t-*!#>").find(line.front()) != std::string_view::npos) {
    line.remove_prefix(1);
  }
  const std::string lower = Lower(line);
  bool complains = false;
  for (std::string_view start : kFailureStarts) complains |= StartsWith(lower, start);
  for (std::string_view word : kFailureWords) complains |= lower.find(word) != std::string::npos;
  if (!complains) return Complaint::None;
  // The display is the Box's courtesy to the technician; a Box without one still erases.
  const bool aboutDisplay = lower.find("'vfd'") != std::string::npos || StartsWith(lower, "vfd") ||
                            StartsWith(lower, "usage: vfd");
  return aboutDisplay ? Complaint::Warning : Complaint::Failure;
}

std::string ShownText(std::string_view text, std::size_t limit) {
  std::string shown;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      shown.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      shown += escaped;
    }
    if (shown.size() > limit) {
      shown.resize(limit);
      shown += "...";
      break;
    }
  }
  return shown;
}

void ConsoleReply::Start(std::string_view prompt) {
  *this = ConsoleReply();
  prompt_ = prompt.substr(0, 64);
}

bool ConsoleReply::Feed(std::string_view chunk, bool promptAtEnd) {
  if (ended_) return false;
  const std::size_t room = kTextLimit - std::min(kTextLimit, text_.size());
  text_.append(chunk.substr(0, room));
  textCut_ |= chunk.size() > room;
  for (const char c : chunk) {
    if (c == '\n') {
      LineEnded();
      line_.clear();
      lineTail_.clear();
      endingReturns_ = 0;
      lineBlank_ = true;
      continue;
    }
    if (line_.size() < kLineLimit) line_.push_back(c);
    // Carriage returns ending the line are counted rather than kept, so that however many a
    // console sends after its prompt, the tail still shows the prompt.
    if (c == '\r') {
      ++endingReturns_;
    } else {
      for (std::size_t n = std::min(endingReturns_, kTailLimit); n > 0; --n) KeepInTail('\r');
      endingReturns_ = 0;
      KeepInTail(c);
    }
    lineBlank_ = lineBlank_ && (c == ' ' || c == '\t' || c == '\r');
  }
  ended_ = promptAtEnd && spoke_;
  return ended_;
}

void ConsoleReply::KeepInTail(char c) {
  if (lineTail_.size() == kTailLimit) lineTail_.erase(0, 1);
  lineTail_.push_back(c);
}

void ConsoleReply::LineEnded() {
  // A stale prompt comes as a blank line or a prompt line, whatever the line end.
  std::string_view end = lineTail_;
  if (end.size() > 3) end.remove_prefix(end.size() - 3);
  if (lineBlank_ || end == "x> " || end == "X> ") return;
  std::string_view line = line_;
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const bool restOfAPrompt = line.size() < kLineLimit && line.size() <= prompt_.size() &&
                             std::string_view(prompt_).substr(prompt_.size() - line.size()) == line;
  if (restOfAPrompt) return;
  spoke_ = true;
  if (!answer_) {
    answer_ = ParseCrcAnswer(line);
    if (answer_) answerLine_ = line;
  }
  switch (ClassifyConsoleLine(line)) {
    case Complaint::Failure:
      if (failures_.size() < kComplaintLimit) failures_.emplace_back(line);
      break;
    case Complaint::Warning:
      if (warnings_.size() < kComplaintLimit) warnings_.emplace_back(line);
      break;
    case Complaint::None:
      break;
  }
}

}  // namespace app
