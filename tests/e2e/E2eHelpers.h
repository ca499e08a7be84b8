// Starting boxsim and zanowipe-cli for a test, and checking a flash image.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/Process.h"

namespace e2e {

inline const std::string kBoxsim = ZW_BOXSIM_PATH;

// The thread sanitizer's runtime has a thread of its own that wakes ten times a second, so
// wake-up counts of a program built with it say nothing about the program.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kRuntimeWakesItself = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kRuntimeWakesItself = true;
#else
inline constexpr bool kRuntimeWakesItself = false;
#endif
#else
inline constexpr bool kRuntimeWakesItself = false;
#endif

// A simulated Box with a fresh flash image in its own scratch directory.
// A Box switched on a moment after the tool has opened the port, as a technician does. What a
// Box says before the tool watches the line raises no receive event (as on Windows), so a Box
// that answers the open at once would race the tool's start-up.
inline std::vector<std::string> SwitchedOnAfterOpen(std::vector<std::string> options) {
  options.insert(options.end(), {"--power-on-delay", "300"});
  return options;
}

class SimulatedBox {
 public:
  explicit SimulatedBox(const ScratchDir& dir, std::vector<std::string> options = {},
                        const std::string& image = "flash.img")
      : image_(dir.File(image)) {
    std::vector<std::string> argv = {kBoxsim, "--flash", image_, "--flash-init"};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<Process>(argv, dir.Path());
    device_ = process_->FirstLine(std::chrono::seconds(20));
  }
  const std::string& Device() const { return device_; }
  const std::string& Image() const { return image_; }
  Process& Proc() { return *process_; }
  // Stops it (SIGTERM) and returns how it ended.
  std::optional<ExitInfo> Stop() {
    process_->Signal(SIGTERM);
    return process_->Wait(std::chrono::seconds(20));
  }

 private:
  std::string image_;
  std::unique_ptr<Process> process_;
  std::string device_;
};

struct VerifyOutcome {
  int status = -1;
  std::string text;
};

// boxsim --verify-flash; an empty range checks that nothing was erased.
inline VerifyOutcome VerifyFlash(const ScratchDir& dir, const std::string& image,
                                 const std::string& first = "", const std::string& last = "") {
  std::vector<std::string> argv = {kBoxsim, "--verify-flash", image};
  if (!first.empty()) argv.insert(argv.end(), {"--erased", first, last});
  Process p(argv, dir.Path());
  auto e = p.Wait(std::chrono::seconds(60));
  return {e ? e->status : -1, p.Stdout() + p.Stderr()};
}

// Whether `lines` appear in `text` in this order.
inline ::testing::AssertionResult InOrder(const std::string& text,
                                          const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    std::size_t found = text.find(line, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "\"" << line << "\" missing (in order) from:\n"
                                           << text;
    at = found + line.size();
  }
  return ::testing::AssertionSuccess();
}

}  // namespace e2e
