// boxsim's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/boxsim/Console.h"
#include "tools/boxsim/Flash.h"

namespace boxsim {

// Moments at which the Box can be told to drop the line (close its end of the pty).
enum class HangupStage { None, Boot, Wake, Prompt, Erase, Readback };

struct Options {
  // Where the device shows up.
  std::string link;
  std::string portsIni;
  int com = 0;

  // Flash.
  std::string flashPath;
  bool flashInit = false;
  FlashGeometry geometry;
  int sectorMs = 25;
  int crcMsPerMiB = 5;

  // Faults of the flash chip and of the console's crc32.
  bool stuckProtect = false;
  std::uint32_t stuckProtectFirst = 0, stuckProtectLast = 0;
  bool writeProtected = false;
  std::vector<std::uint32_t> stuckBytes;  // addresses
  Crc32Fault crc32Fault = Crc32Fault::None;

  // Power and boot.
  int powerOnDelayMs = 0;
  bool powerOnAtStart = false;
  bool waitSignal = false;
  bool stayOn = false;
  int bootMs = 1200;
  int countdown = 3;
  bool atConsole = false;

  // The line.
  std::string prompt = "simbox> ";
  bool chunkRandom = false;
  bool upperHex = false;
  bool crlf = false;
  int baud = 0;  // 0: as fast as the pty takes it
  bool silent = false;
  bool neverPrompt = false;
  HangupStage hangupAt = HangupStage::None;
  std::uint32_t seed = 1;
  bool verbose = false;

  // The checker instead of the Box.
  bool verify = false;
  std::string verifyPath;
  bool verifyHasRange = false;
  std::uint32_t erasedFirst = 0, erasedLast = 0;
};

struct ParseResult {
  std::optional<Options> options;  // empty: print `message` and exit with `exitCode`
  std::string message;
  int exitCode = 0;
};

ParseResult ParseOptions(int argc, char** argv);
std::string HelpText();
const char* HangupStageName(HangupStage stage);

}  // namespace boxsim
