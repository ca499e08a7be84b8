#include "app/cli/BoxRecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/ConsoleLogic.h"
#include "app/cli/CliOptions.h"

namespace cli {

namespace {

nlohmann::json Optional(const std::optional<double>& seconds) {
  if (!seconds) return nullptr;
  // Milliseconds are all a duration of a person's bench work needs.
  return static_cast<double>(static_cast<long long>(*seconds * 1000.0 + 0.5)) / 1000.0;
}

nlohmann::json Optional(const std::optional<int>& value) {
  if (!value) return nullptr;
  return *value;
}

}  // namespace

const char* ResultName(int status) {
  switch (status) {
    case kExitComplete:
      return "COMPLETE";
    case kExitTimeout:
      return "timed out";
    case kExitInterrupted:
      return "interrupted";
    default:
      return "error";
  }
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      text.push_back(c);
    } else {
      text.push_back(static_cast<char>(0xC0 | (b >> 6)));
      text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
  }
  return text;
}

std::string IsoUtc(BoxRecord::Time time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{day};
  const hh_mm_ss clock{ms - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()),
                int(clock.subseconds().count()));
  return text;
}

std::pair<std::string, std::string> EraseRange(std::string_view commandLine) {
  // The commands are separated by ';'; the erase is "erase FIRST LAST".
  std::size_t at = 0;
  while (at <= commandLine.size()) {
    std::size_t end = commandLine.find(';', at);
    if (end == std::string_view::npos) end = commandLine.size();
    const std::string_view command = commandLine.substr(at, end - at);
    if (command.rfind("erase ", 0) == 0) {
      const std::string_view range = command.substr(6);
      const std::size_t blank = range.find(' ');
      if (blank != std::string_view::npos) {
        std::string_view last = range.substr(blank + 1);
        while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) last.remove_suffix(1);
        return {std::string(range.substr(0, blank)), std::string(last)};
      }
    }
    at = end + 1;
  }
  return {};
}

std::string EncodeRecord(const BoxRecord& r) {
  // The range is the one this erase was to take, also when its line never went out.
  const auto [first, last] =
      EraseRange(!r.command.empty() ? std::string_view(r.command)
                                    : (r.withConfiguration ? app::EraseScriptWithConfig
                                                           : app::EraseScriptUserOnly));
  nlohmann::ordered_json j;
  j["start"] = IsoUtc(r.start);
  j["end"] = IsoUtc(r.end);
  j["host"] = r.host;
  j["port"] = r.port;
  j["device"] = r.device;
  j["erase"] = r.withConfiguration ? "user data and configuration" : "user data";
  j["range"] = {{"first", first}, {"last", last}};
  j["command"] = r.command.empty() ? nlohmann::ordered_json(nullptr)
                                   : nlohmann::ordered_json(Latin1ToUtf8(r.command));
  j["boot_text"] = Latin1ToUtf8(r.bootText);
  j["boot_text_cut"] = r.bootTextCut;
  j["reply"] = Latin1ToUtf8(r.reply);
  j["reply_cut"] = r.replyCut;
  j["result"] = ResultName(r.status);
  j["status"] = r.status;
  j["message"] = r.message;
  if (r.error) {
    j["error"] = {{"text", r.error->text},
                  {"code", Optional(r.error->code)},
                  {"system_code", Optional(r.error->systemCode)}};
  } else {
    j["error"] = nullptr;
  }
  j["waking_seconds"] = Optional(r.wakingSeconds);
  j["erasing_seconds"] = Optional(r.erasingSeconds);
  // Texts that are not the Box's own (an error naming a path) may hold any bytes as well.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace cli
