#include "tools/boxsim/Options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "tools/boxsim/Hex.h"

namespace boxsim {

namespace {

bool ParseInt(const std::string& text, long min, long max, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  value = v;
  return true;
}

// A byte count with an optional K or M suffix.
bool ParseSize(std::string text, std::uint32_t& value) {
  std::uint32_t unit = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1u << 10;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1u << 20;
  if (unit != 1) text.pop_back();
  long v = 0;
  if (!ParseInt(text, 1, 0x7fffffffL / unit, v)) return false;
  value = static_cast<std::uint32_t>(v) * unit;
  return true;
}

Crc32Fault Crc32FaultOf(const std::string& option) {
  if (option == "--no-crc32") return Crc32Fault::Missing;
  if (option == "--crc32-silent") return Crc32Fault::Silent;
  if (option == "--crc32-reboot") return Crc32Fault::Reboot;
  if (option == "--crc32-wrong-range") return Crc32Fault::WrongRange;
  if (option == "--crc32-garbage") return Crc32Fault::Garbage;
  return Crc32Fault::None;
}

}  // namespace

const char* HangupStageName(HangupStage stage) {
  switch (stage) {
    case HangupStage::None:
      return "none";
    case HangupStage::Boot:
      return "boot";
    case HangupStage::Wake:
      return "wake";
    case HangupStage::Prompt:
      return "prompt";
    case HangupStage::Erase:
      return "erase";
    case HangupStage::Readback:
      return "readback";
  }
  return "?";
}

std::string HelpText() {
  return R"(Usage: boxsim [OPTIONS]
       boxsim --verify-flash FILE [--erased START END] [--flash-base HEX] [--flash-size N]

A simulated Box on a pseudo-terminal. Prints the device path of its end (for example
/dev/pts/7) on one line of standard output, then behaves like the Box's boot console until it
is stopped (SIGINT or SIGTERM) or told to hang up.

Power: by default the Box is switched on when a program opens the device (after
--power-on-delay) and switched off when that program closes it, so every open meets a fresh
start, as when the technician follows the tool's instructions. While nobody has the device
open, what the Box prints is lost.

Where the device shows up:
  --link PATH            also make a symbolic link PATH to the device (replaced if it is a link)
  --ports-ini FILE       write COM<N>=<device> into section [PORTS] of FILE, keeping the rest
  --com N                the port number for --ports-ini, 1..8 (default 1)

Flash (START and END are hexadecimal, END inclusive):
  --flash FILE           file-backed flash image (default: kept in memory)
  --flash-init           (re)create FILE filled with the fresh pattern (never 0xff)
  --flash-base HEX       address of the first byte (default a1000000)
  --flash-size N         image size, suffix K or M allowed (default 16M)
  --sector-size N        sector size, suffix K or M allowed (default 64K)
  --sector-ms MS         time to erase one sector (default 25)
  --crc-ms-per-mib MS    time crc32 takes to read 1 MiB (default 5)

Power and boot:
  --power-on-delay MS    wait MS before switching on (default 0)
  --power-on-at-start    switch on when boxsim starts, not when the device is opened
  --wait-signal          switch on at SIGUSR1 only (SIGUSR2 switches off)
  --stay-on              stay on when the program that opened the device closes it
  --boot-ms MS           time over which the boot banner is printed (default 1200)
  --countdown N          autoboot countdown in seconds (default 3)
  --at-console           start at the console prompt instead of booting

The line and the hard cases:
  --prompt TEXT          the console prompt (default "simbox> ")
  --upper-x              prompt in upper case ("SIMBOX> "), hex digits of crc32's answer too
  --crlf                 end lines with CR LF instead of LF
  --chunk-random         send output in pieces of random size at random short intervals
  --baud N               pace output as a serial line of N baud (10 bits a byte)
  --silent               never send anything
  --never-prompt         ignore line feeds; boot text goes on and on, no prompt ever
  --hangup-at STAGE      close the device at STAGE and exit: boot (first boot text sent),
                         wake (first line feed received while booting), prompt (first
                         prompt sent), erase (half way through the first erase),
                         readback (the prompt after the first crc32 answer)
  --seed N               seed for --chunk-random (default 1)
  --fast                 no banner delay, no erase or crc32 delay, no power-on delay
  -v, --verbose          log what happens to standard error
  -h, --help             this text

Faults of the flash (the console's words do not show them; only reading the flash back does):
  --stuck-protect START END
                         the sectors of START..END stay protected: 'protect off' still says
                         "Un-Protected N sectors"; the erase says "- Warning: N protected
                         sectors will not be erased!", skips them and reports "Erased N
                         sectors" for the whole range
  --write-protected      the chip ignores erases: every command prints its usual success text
  --stuck-byte ADDRESS   the byte at ADDRESS keeps its fresh value when its sector is erased
                         (may be given more than once)

Faults of the console's crc32 (one at a time):
  --no-crc32             no such command: "Unknown command 'crc32' - try 'help'"
  --crc32-silent         the console hangs after echoing a crc32 line: no answer, no prompt
  --crc32-reboot         the Box starts again (boot text, countdown) after echoing it
  --crc32-wrong-range    the answer names the range one sector further on (with the sum of
                         the range asked for)
  --crc32-garbage        line noise (an escape sequence, a byte 0xfe, a bell) before "==> "

Checking an image:
  --verify-flash FILE    check FILE against the fresh pattern and exit: 0 good, 1 not
  --erased START END     ... with START..END (inclusive) expected to be all 0xff

Console commands (at the prompt, several separated by ';'):
  protect off START END | protect on START END | erase START END | crc32 START COUNT |
  vfd TEXT | flinfo | help
  (START, END and COUNT hexadecimal; crc32 answers "crc32 for START ... LAST ==> CRC")

Exit status: 0 after a stop or a hang-up, 1 on a failure, 2 on bad options.
)";
}

ParseResult ParseOptions(int argc, char** argv) {
  ParseResult result;
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  auto fail = [&](const std::string& message) {
    result.message = "boxsim: " + message + " (see --help)\n";
    result.exitCode = 2;
    return result;
  };
  bool fast = false;
  bool sectorMsGiven = false, crcMsGiven = false, bootMsGiven = false, powerDelayGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v, v2;
    long n = 0;
    if (a == "-h" || a == "--help") {
      result.message = HelpText();
      result.exitCode = 0;
      return result;
    } else if (a == "-v" || a == "--verbose") {
      o.verbose = true;
    } else if (a == "--link") {
      if (!value(o.link) || o.link.empty()) return fail("--link needs a path");
    } else if (a == "--ports-ini") {
      if (!value(o.portsIni) || o.portsIni.empty()) return fail("--ports-ini needs a file");
    } else if (a == "--com") {
      if (!value(v) || !ParseInt(v, 1, 8, n)) return fail("--com needs a number from 1 to 8");
      o.com = static_cast<int>(n);
    } else if (a == "--flash") {
      if (!value(o.flashPath) || o.flashPath.empty()) return fail("--flash needs a file");
    } else if (a == "--flash-init") {
      o.flashInit = true;
    } else if (a == "--flash-base") {
      if (!value(v) || !ParseHex(v, o.geometry.base))
        return fail("--flash-base needs a hexadecimal address");
    } else if (a == "--flash-size") {
      if (!value(v) || !ParseSize(v, o.geometry.size)) return fail("--flash-size needs a size");
    } else if (a == "--sector-size") {
      if (!value(v) || !ParseSize(v, o.geometry.sectorSize))
        return fail("--sector-size needs a size");
    } else if (a == "--sector-ms") {
      if (!value(v) || !ParseInt(v, 0, 600000, n))
        return fail("--sector-ms needs milliseconds (0..600000)");
      o.sectorMs = static_cast<int>(n);
      sectorMsGiven = true;
    } else if (a == "--crc-ms-per-mib") {
      if (!value(v) || !ParseInt(v, 0, 60000, n))
        return fail("--crc-ms-per-mib needs milliseconds (0..60000)");
      o.crcMsPerMiB = static_cast<int>(n);
      crcMsGiven = true;
    } else if (a == "--stuck-protect") {
      if (!value(v) || !value(v2) || !ParseHex(v, o.stuckProtectFirst) ||
          !ParseHex(v2, o.stuckProtectLast))
        return fail("--stuck-protect needs two hexadecimal addresses");
      o.stuckProtect = true;
    } else if (a == "--write-protected") {
      o.writeProtected = true;
    } else if (a == "--stuck-byte") {
      std::uint32_t address = 0;
      if (!value(v) || !ParseHex(v, address))
        return fail("--stuck-byte needs a hexadecimal address");
      o.stuckBytes.push_back(address);
    } else if (Crc32FaultOf(a) != Crc32Fault::None) {
      if (o.crc32Fault != Crc32Fault::None && o.crc32Fault != Crc32FaultOf(a))
        return fail("only one fault of crc32 at a time");
      o.crc32Fault = Crc32FaultOf(a);
    } else if (a == "--power-on-delay") {
      if (!value(v) || !ParseInt(v, 0, 3600000, n))
        return fail("--power-on-delay needs milliseconds");
      o.powerOnDelayMs = static_cast<int>(n);
      powerDelayGiven = true;
    } else if (a == "--power-on-at-start") {
      o.powerOnAtStart = true;
    } else if (a == "--wait-signal") {
      o.waitSignal = true;
    } else if (a == "--stay-on") {
      o.stayOn = true;
    } else if (a == "--boot-ms") {
      if (!value(v) || !ParseInt(v, 0, 600000, n)) return fail("--boot-ms needs milliseconds");
      o.bootMs = static_cast<int>(n);
      bootMsGiven = true;
    } else if (a == "--countdown") {
      if (!value(v) || !ParseInt(v, 0, 99, n)) return fail("--countdown needs 0..99 seconds");
      o.countdown = static_cast<int>(n);
    } else if (a == "--at-console") {
      o.atConsole = true;
    } else if (a == "--prompt") {
      if (!value(o.prompt) || o.prompt.empty()) return fail("--prompt needs a text");
    } else if (a == "--upper-x") {
      o.prompt = "SIMBOX> ";
      o.upperHex = true;
    } else if (a == "--crlf") {
      o.crlf = true;
    } else if (a == "--chunk-random") {
      o.chunkRandom = true;
    } else if (a == "--baud") {
      if (!value(v) || !ParseInt(v, 50, 4000000, n)) return fail("--baud needs 50..4000000");
      o.baud = static_cast<int>(n);
    } else if (a == "--silent") {
      o.silent = true;
    } else if (a == "--never-prompt") {
      o.neverPrompt = true;
    } else if (a == "--hangup-at") {
      if (!value(v))
        return fail("--hangup-at needs a stage: boot, wake, prompt, erase or readback");
      if (v == "boot") {
        o.hangupAt = HangupStage::Boot;
      } else if (v == "wake") {
        o.hangupAt = HangupStage::Wake;
      } else if (v == "prompt") {
        o.hangupAt = HangupStage::Prompt;
      } else if (v == "erase") {
        o.hangupAt = HangupStage::Erase;
      } else if (v == "readback") {
        o.hangupAt = HangupStage::Readback;
      } else {
        return fail("unknown stage '" + v +
                    "' for --hangup-at: boot, wake, prompt, erase or readback");
      }
    } else if (a == "--seed") {
      if (!value(v) || !ParseInt(v, 0, 0x7fffffffL, n)) return fail("--seed needs a number");
      o.seed = static_cast<std::uint32_t>(n);
    } else if (a == "--fast") {
      fast = true;
    } else if (a == "--verify-flash") {
      if (!value(o.verifyPath) || o.verifyPath.empty()) return fail("--verify-flash needs a file");
      o.verify = true;
    } else if (a == "--erased") {
      if (!value(v) || !value(v2) || !ParseHex(v, o.erasedFirst) || !ParseHex(v2, o.erasedLast))
        return fail("--erased needs two hexadecimal addresses");
      o.verifyHasRange = true;
    } else {
      return fail("unknown option '" + a + "'");
    }
  }
  if (fast) {
    if (!sectorMsGiven) o.sectorMs = 0;
    if (!crcMsGiven) o.crcMsPerMiB = 0;
    if (!bootMsGiven) o.bootMs = 0;
    if (!powerDelayGiven) o.powerOnDelayMs = 0;
  }
  const FlashGeometry& g = o.geometry;
  if (g.sectorSize == 0 || g.size % g.sectorSize != 0)
    return fail("--flash-size must be a multiple of --sector-size");
  if (static_cast<std::uint64_t>(g.base) + g.size > 0x100000000ull)
    return fail("the flash must end below address 100000000");
  if (!o.portsIni.empty() && o.com == 0) o.com = 1;
  if (o.com != 0 && o.portsIni.empty()) return fail("--com needs --ports-ini");
  if (o.verifyHasRange && !o.verify) return fail("--erased needs --verify-flash");
  if (o.verifyHasRange &&
      (o.erasedFirst > o.erasedLast || !g.Contains(o.erasedFirst) || !g.Contains(o.erasedLast)))
    return fail("--erased range must lie inside the flash, START <= END");
  if (o.stuckProtect && (o.stuckProtectFirst > o.stuckProtectLast ||
                         !g.Contains(o.stuckProtectFirst) || !g.Contains(o.stuckProtectLast)))
    return fail("--stuck-protect range must lie inside the flash, START <= END");
  for (std::uint32_t address : o.stuckBytes) {
    if (!g.Contains(address)) return fail("--stuck-byte address must lie inside the flash");
  }
  if (o.flashInit && o.flashPath.empty()) return fail("--flash-init needs --flash FILE");
  if (o.waitSignal && o.powerOnAtStart)
    return fail("--wait-signal and --power-on-at-start exclude each other");
  result.options = o;
  return result;
}

}  // namespace boxsim
