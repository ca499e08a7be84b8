#include "app/cli/PortName.h"

#include <algorithm>
#include <limits>

#include "app/ConsoleReply.h"

namespace cli {

namespace {

const std::string kDots = "...";
// A start shorter than this tells nothing ("/dev"): the room goes to the end instead.
constexpr std::size_t kShortestStart = 6;

std::size_t CommonSuffix(std::string_view a, std::string_view b) {
  std::size_t n = 0;
  while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n]) ++n;
  return n;
}

bool IsSeparator(char c) {
  return c == '/' || c == '_' || c == '-' || c == ':';
}

std::string Shortened(const std::string& name, std::size_t unique, std::size_t width) {
  if (width <= 2 * kDots.size()) return name.substr(name.size() - width);
  std::size_t from = name.size() - std::min(unique, name.size());
  // The whole word the difference lies in, when it fits.
  std::size_t word = from;
  while (word > 0 && !IsSeparator(name[word - 1])) --word;
  if (name.size() - word + kDots.size() <= width) from = word;
  const std::size_t tail = name.size() - from;
  if (tail + kDots.size() > width) {
    return kDots + name.substr(from, width - 2 * kDots.size()) + kDots;
  }
  const std::size_t head = width - kDots.size() - tail;
  if (head < kShortestStart) return kDots + name.substr(name.size() - (width - kDots.size()));
  return name.substr(0, head) + kDots + name.substr(from);
}

}  // namespace

std::string ShownName(std::string_view name) {
  return app::ShownText(name, std::numeric_limits<std::size_t>::max());
}

std::vector<std::string> ShortNames(const std::vector<std::string>& names, std::size_t width) {
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.size() <= width) {
      shown.push_back(name);
      continue;
    }
    // The shortest end of the name that no other name ends with.
    std::size_t unique = 0;
    for (std::size_t j = 0; j < names.size(); ++j) {
      if (j != i) unique = std::max(unique, CommonSuffix(name, names[j]) + 1);
    }
    shown.push_back(Shortened(name, unique, width));
  }
  return shown;
}

}  // namespace cli
