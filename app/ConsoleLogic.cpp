#include "app/ConsoleLogic.h"

#include <limits>

#include "app/ConsoleReply.h"
#include "app/ModuleState.h"

namespace app {

std::string BytesToText(const std::uint8_t* bytes, int count) {
  if (count <= 0) return {};
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
}

void ConsoleLineBuffer::Append(std::string_view text) {
  if (text.size() >= kKeptTail) {
    tail_.assign(text.substr(text.size() - kKeptTail));
  } else {
    tail_.append(text);
    if (tail_.size() > kKeptTail) tail_.erase(0, tail_.size() - kKeptTail);
  }
  const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - length_;
  length_ += text.size() < room ? text.size() : room;
}

void ConsoleLineBuffer::Clear() {
  tail_.clear();
  length_ = 0;
}

bool ConsoleLineBuffer::EndsWithLineFeed() const {
  return !tail_.empty() && tail_.back() == '\n';
}

bool ConsoleLineBuffer::EndsInPrompt() const {
  if (length_ <= 5) return false;
  const std::string_view end = std::string_view(tail_).substr(tail_.size() - 3);
  return end == "x> " || end == "X> ";
}

bool AppendAndFindPrompt(ConsoleLineBuffer& line, std::string_view chunk) {
  line.Append(chunk);
  if (line.Empty()) return false;
  if (line.EndsWithLineFeed()) line.Clear();
  return line.EndsInPrompt();
}

void ScanWhileWaking(std::string_view text) {
  if (!AppendAndFindPrompt(ConsoleLine, text)) return;
  WakingUp = 0;
  const std::string& line = ConsoleLine.Tail();
  const std::size_t end = line.find_last_of("\r\n");
  PromptText = end == std::string::npos ? line : line.substr(end + 1);
  ConsoleLine.Clear();
}

bool ScanWhileErasing(std::string_view text, ConsoleReply& reply) {
  return reply.Feed(text, AppendAndFindPrompt(ConsoleLine, text));
}

}  // namespace app
