#include "app/cli/EventStream.h"

#include <array>
#include <nlohmann/json.hpp>
#include <utility>

namespace cli {

namespace {

using Kind = WorkerEvent::Kind;
using nlohmann::json;

constexpr std::array<std::pair<Kind, const char*>, 9> kKinds = {{
    {Kind::Port, "port"},
    {Kind::Progress, "progress"},
    {Kind::Erase, "erase"},
    {Kind::PortClosed, "port-closed"},
    {Kind::ErrorBox, "error-box"},
    {Kind::Problem, "problem"},
    {Kind::Box, "box"},
    {Kind::Counts, "counts"},
    {Kind::End, "end"},
}};

const char* KindName(Kind kind) {
  for (const auto& [k, name] : kKinds) {
    if (k == kind) return name;
  }
  return "?";
}

// Field readers: each names the field that is missing or of the wrong type.
bool Text(const json& j, const char* key, std::string& out, std::string& error) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_string()) {
    error = std::string("\"") + key + "\" is missing or not a string";
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool Number(const json& j, const char* key, int& out, std::string& error) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer() || *it < 0 || *it > 255) {
    error = std::string("\"") + key + "\" is missing or not a whole number from 0 to 255";
    return false;
  }
  out = it->get<int>();
  return true;
}

bool Count(const json& j, const char* key, int& out, std::string& error) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer() || *it < 0 || *it > 1000000000) {
    error = std::string("\"") + key + "\" is missing or not a count";
    return false;
  }
  out = it->get<int>();
  return true;
}

}  // namespace

std::string EncodeEvent(const WorkerEvent& e) {
  json j;
  j["event"] = KindName(e.kind);
  switch (e.kind) {
    case Kind::Port:
      j["port"] = e.port;
      j["device"] = e.device;
      break;
    case Kind::Progress:
      j["step"] = app::RunStepName(e.step);
      j["status"] = e.status;
      j["state"] = e.state;
      break;
    case Kind::Erase:
      j["configuration"] = e.withConfiguration;
      break;
    case Kind::PortClosed:
      break;
    case Kind::ErrorBox:
      j["caption"] = e.caption;
      j["text"] = e.text;
      break;
    case Kind::Problem:
      j["text"] = e.text;
      break;
    case Kind::Box:
      j["status"] = e.exitStatus;
      j["text"] = e.text;
      break;
    case Kind::Counts:
      j["done"] = e.done;
      j["failed"] = e.failed;
      j["unverified"] = e.unverified;
      break;
    case Kind::End:
      j["status"] = e.exitStatus;
      j["done"] = e.done;
      j["failed"] = e.failed;
      j["unverified"] = e.unverified;
      break;
  }
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ParseEvent(std::string_view line, WorkerEvent& event, std::string& error) {
  const json j = json::parse(line, nullptr, false);
  if (j.is_discarded()) {
    error = "not JSON";
    return false;
  }
  if (!j.is_object()) {
    error = "not a JSON object";
    return false;
  }
  std::string name;
  if (!Text(j, "event", name, error)) return false;
  WorkerEvent e;
  bool known = false;
  for (const auto& [k, text] : kKinds) {
    if (name == text) {
      e.kind = k;
      known = true;
    }
  }
  if (!known) {
    error = "unknown event \"" + name + "\"";
    return false;
  }
  bool ok = true;
  switch (e.kind) {
    case Kind::Port:
      ok = Text(j, "port", e.port, error) && Text(j, "device", e.device, error);
      break;
    case Kind::Progress: {
      std::string step;
      ok = Text(j, "step", step, error) && Text(j, "status", e.status, error) &&
           Text(j, "state", e.state, error);
      if (ok && !app::RunStepFromName(step, e.step)) {
        error = "unknown step \"" + step + "\"";
        ok = false;
      }
      break;
    }
    case Kind::Erase: {
      const auto it = j.find("configuration");
      ok = it != j.end() && it->is_boolean();
      if (ok) {
        e.withConfiguration = it->get<bool>();
      } else {
        error = "\"configuration\" is missing or not true or false";
      }
      break;
    }
    case Kind::PortClosed:
      break;
    case Kind::ErrorBox:
      ok = Text(j, "caption", e.caption, error) && Text(j, "text", e.text, error);
      break;
    case Kind::Problem:
      ok = Text(j, "text", e.text, error);
      break;
    case Kind::Box:
      ok = Number(j, "status", e.exitStatus, error) && Text(j, "text", e.text, error);
      break;
    case Kind::Counts:
      ok = Count(j, "done", e.done, error) && Count(j, "failed", e.failed, error) &&
           Count(j, "unverified", e.unverified, error);
      break;
    case Kind::End:
      ok = Number(j, "status", e.exitStatus, error) && Count(j, "done", e.done, error) &&
           Count(j, "failed", e.failed, error) && Count(j, "unverified", e.unverified, error);
      break;
  }
  if (!ok) {
    error = name + " event: " + error;
    return false;
  }
  event = std::move(e);
  return true;
}

std::vector<std::string> EventLineSplitter::Feed(std::string_view bytes) {
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!skipping_) {
      if (partial_.size() + piece.size() > maxLine_) {
        // Dropped up to its line feed; the next line is read again.
        partial_.clear();
        skipping_ = true;
        ++overlong_;
      } else {
        partial_.append(piece);
      }
    }
    if (end == std::string_view::npos) break;
    if (!skipping_) lines.push_back(std::move(partial_));
    partial_.clear();
    skipping_ = false;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace cli
