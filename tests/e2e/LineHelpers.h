// What the tests of zanowipe-cli's line share: waiting on a condition with a bound, counting
// texts, reading the record file (every line whole JSON), and finding a port's worker.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/Process.h"

namespace e2e {

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

// The record lines of a text, each of which must be a whole JSON object ended by a line feed.
// mixed: the records share their stream with other output, whose lines do not start with '{'.
inline std::vector<nlohmann::json> RecordsIn(const std::string& text, bool mixed = false) {
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the records end in a torn line:\n" << text;
  std::vector<nlohmann::json> records;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (mixed && (line.empty() || line[0] != '{')) continue;
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    EXPECT_TRUE(j.is_object()) << "a record line is not a JSON object: " << line;
    if (j.is_object()) records.push_back(std::move(j));
  }
  return records;
}

inline std::vector<nlohmann::json> Records(const std::string& path) {
  return RecordsIn(ReadFile(path));
}

inline std::map<std::string, nlohmann::json> ByPort(const std::vector<nlohmann::json>& records) {
  std::map<std::string, nlohmann::json> byPort;
  for (const nlohmann::json& r : records) byPort[r.value("port", "")] = r;
  return byPort;
}

// The worker process of the port that runs a given device, found by its command line.
inline pid_t WorkerOf(pid_t parent, const std::string& device) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadFile("/proc/" + name + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string state;
    pid_t ppid = 0;
    fields >> state >> ppid;
    if (ppid != parent) continue;
    std::string cmdline = ReadFile("/proc/" + name + "/cmdline");
    for (char& c : cmdline) c = c == '\0' ? ' ' : c;
    if (cmdline.find("--worker") != std::string::npos &&
        cmdline.find("--port " + device + " ") != std::string::npos) {
      return static_cast<pid_t>(std::stoi(name));
    }
  }
  return -1;
}

}  // namespace e2e
