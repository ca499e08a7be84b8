// boxsim: a simulated Box on a pseudo-terminal, for tests, the demo and training.
// See docs/BOXSIM.md and `boxsim --help`.
#include <cstdio>

#include "tools/boxsim/Flash.h"
#include "tools/boxsim/Options.h"
#include "tools/boxsim/Simulator.h"

namespace {

int RunVerify(const boxsim::Options& o) {
  boxsim::VerifyResult result =
      boxsim::VerifyImage(o.verifyPath, o.geometry, !o.verifyHasRange, o.erasedFirst, o.erasedLast);
  std::fputs(result.report.c_str(), result.ok ? stdout : stderr);
  return result.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  boxsim::ParseResult parsed = boxsim::ParseOptions(argc, argv);
  if (!parsed.options) {
    std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  if (parsed.options->verify) return RunVerify(*parsed.options);
  return boxsim::RunSimulator(*parsed.options);
}
