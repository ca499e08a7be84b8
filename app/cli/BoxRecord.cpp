#include "app/cli/BoxRecord.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/ConsoleLogic.h"
#include "app/ReadBack.h"
#include "app/cli/CliOptions.h"
#include "app/cli/PortName.h"

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

nlohmann::json Lines(const std::vector<std::string>& lines) {
  nlohmann::json list = nlohmann::json::array();
  for (const std::string& line : lines) list.push_back(Latin1ToUtf8(line));
  return list;
}

// What was read back and what it showed; nulls for what never happened.
nlohmann::ordered_json ReadBack(const BoxRecord& r, std::string_view commandLine) {
  nlohmann::ordered_json j;
  j["enabled"] = r.readBackOn;
  const std::string& command = r.verdict ? r.verdict->command : r.readBackCommand;
  j["command"] = command.empty() ? nlohmann::ordered_json(nullptr)
                                 : nlohmann::ordered_json(Latin1ToUtf8(command));
  const bool answered = r.verdict && !r.verdict->answer.empty();
  j["answer"] = answered ? nlohmann::ordered_json(Latin1ToUtf8(r.verdict->answer))
                         : nlohmann::ordered_json(nullptr);
  j["crc_read"] = r.verdict && r.verdict->crcRead
                      ? nlohmann::ordered_json(app::Hex8(*r.verdict->crcRead))
                      : nlohmann::ordered_json(nullptr);
  const std::optional<app::FlashRange> range = app::EraseRangeOf(commandLine);
  j["crc_expected"] = range ? nlohmann::ordered_json(app::Hex8(app::Crc32OfErased(range->Count())))
                            : nlohmann::ordered_json(nullptr);
  j["erased"] = r.verdict && r.verdict->erased ? nlohmann::ordered_json(*r.verdict->erased)
                                               : nlohmann::ordered_json(nullptr);
  return j;
}

}  // namespace

const char* ResultName(int status) {
  switch (status) {
    case kExitComplete:
      return "COMPLETE";
    case kExitUnverified:
      return "UNVERIFIED";
    default:
      return "FAILED";
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
  const std::string_view commandLine =
      !r.command.empty()
          ? std::string_view(r.command)
          : (r.withConfiguration ? app::EraseScriptWithConfig : app::EraseScriptUserOnly);
  const auto [first, last] = EraseRange(commandLine);
  nlohmann::ordered_json j;
  j["start"] = IsoUtc(r.start);
  j["end"] = IsoUtc(r.end);
  j["host"] = r.host;
  // As the terminal shows them; JSON would carry other bytes only as replacements.
  j["port"] = ShownName(r.port);
  j["device"] = ShownName(r.device);
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
  j["readback"] = ReadBack(r, commandLine);
  j["console_failures"] = r.verdict ? Lines(r.verdict->failures) : nlohmann::json::array();
  j["console_warnings"] = r.verdict ? Lines(r.verdict->warnings) : nlohmann::json::array();
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
