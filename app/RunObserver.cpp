#include "app/RunObserver.h"

#include <array>
#include <utility>

namespace app {

namespace {

constexpr std::array<std::pair<RunStep, const char*>, 8> kNames = {{
    {RunStep::Prepared, "prepared"},
    {RunStep::PortOpened, "port-opened"},
    {RunStep::Waking, "waking"},
    {RunStep::Ready, "ready"},
    {RunStep::Erasing, "erasing"},
    {RunStep::Checking, "checking"},
    {RunStep::Complete, "complete"},
    {RunStep::PortClosed, "port-closed"},
}};

}  // namespace

const char* RunStepName(RunStep step) {
  for (const auto& [value, name] : kNames) {
    if (value == step) return name;
  }
  return "prepared";
}

bool RunStepFromName(std::string_view name, RunStep& step) {
  for (const auto& [value, text] : kNames) {
    if (name == text) {
      step = value;
      return true;
    }
  }
  return false;
}

}  // namespace app
