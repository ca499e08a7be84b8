#include "tools/boxsim/Console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tools/boxsim/Crc32.h"
#include "tools/boxsim/Hex.h"

namespace boxsim {

namespace {

// Bytes a crc32 reads at a time, so a large range needs no buffer of its size.
constexpr std::uint32_t kCrcPiece = 64u << 10;

// What a noisy line puts into the answer under Crc32Fault::Garbage: an escape sequence, a byte
// that is no text and a bell.
constexpr const char* kLineNoise = "\x1b[5m\xfe\x07~ ";

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

}  // namespace

Console::Console(Flash& flash, const ConsoleSettings& settings, Sink print, Sink log,
                 SectorGate gate)
    : flash_(flash),
      settings_(settings),
      print_(std::move(print)),
      log_(std::move(log)),
      gate_(std::move(gate)) {}

void Console::Reset() {
  commands_.clear();
  erase_.reset();
  crc_.reset();
  held_ = false;
  hung_ = false;
  rebootRequested_ = false;
}

bool Console::TakeCrcAnswered() {
  const bool answered = crcAnswered_;
  crcAnswered_ = false;
  return answered;
}

bool Console::TakeRebootRequest() {
  bool requested = rebootRequested_;
  rebootRequested_ = false;
  return requested;
}

std::string Console::HexOut(std::uint32_t value) const {
  char text[16];
  std::snprintf(text, sizeof text, settings_.upperHex ? "%08X" : "%08x", value);
  return text;
}

void Console::RunLine(const std::string& line, Clock::time_point now) {
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t semi = line.find(';', start);
    if (semi == std::string::npos) semi = line.size();
    std::string command = Trim(line.substr(start, semi - start));
    if (!command.empty()) commands_.push_back(command);
    start = semi + 1;
  }
  Advance(now);
}

void Console::Advance(Clock::time_point now) {
  for (;;) {
    if (erase_) {
      while (erase_->next <= erase_->last && erase_->due <= now) {
        if (held_ ||
            (gate_ && !gate_(erase_->next - erase_->first, erase_->last - erase_->first + 1))) {
          held_ = true;
          return;
        }
        if (flash_.Protected(erase_->next)) {
          ++erase_->next;  // skipped at once, as the warning said
          continue;
        }
        std::string error = flash_.EraseSector(erase_->next);
        if (!error.empty()) {
          print_("\nError: " + error + "\n");
          log_(error);
          erase_.reset();
          break;
        }
        print_(".");
        ++erase_->next;
        erase_->due += settings_.sectorTime;
      }
      if (!erase_) continue;
      if (erase_->next <= erase_->last) return;  // more sectors, later
      std::uint32_t count = erase_->last - erase_->first + 1;
      print_(" done\nErased " + std::to_string(count) + " sectors\n");
      log_("erased " + Hex(flash_.SectorStart(erase_->first)) + ".." +
           Hex(flash_.SectorStart(erase_->last + 1) - 1));
      erase_.reset();
    }
    if (hung_) return;
    if (crc_) {
      if (crc_->due > now) return;
      FinishCrc();
      crc_.reset();
    }
    if (commands_.empty()) return;
    std::string command = commands_.front();
    commands_.pop_front();
    Execute(command, now);
  }
}

std::optional<Clock::time_point> Console::NextDeadline() const {
  if (erase_ && !held_) return erase_->due;
  if (crc_) return crc_->due;
  return std::nullopt;
}

void Console::Execute(const std::string& command, Clock::time_point now) {
  std::vector<std::string> w = Words(command);
  const std::string& verb = w[0];
  if (verb == "protect" && w.size() == 4 && (w[1] == "on" || w[1] == "off")) {
    Protect(w[1], w[2], w[3]);
  } else if (verb == "protect") {
    print_("Usage: protect on|off START END\n");
  } else if (verb == "erase" && w.size() == 3) {
    StartErase(w[1], w[2], now);
  } else if (verb == "erase") {
    print_("Usage: erase START END\n");
  } else if (verb == "crc32" && settings_.crc32Fault != Crc32Fault::Missing) {
    if (w.size() == 3) {
      StartCrc(w[1], w[2], now);
    } else {
      print_("Usage: crc32 START COUNT\n");
    }
  } else if (verb == "vfd") {
    std::string text = Trim(command.substr(3));
    flash_.SetDisplay(text);
    print_("VFD: " + text + "\n");
    log_("display shows \"" + text + "\"");
  } else if (verb == "flinfo") {
    const FlashGeometry& g = flash_.Geometry();
    std::uint32_t locked = 0;
    for (std::uint32_t s = 0; s < g.SectorCount(); ++s) locked += flash_.Protected(s) ? 1 : 0;
    print_("Flash: " + std::to_string(g.size >> 10) + " KiB at " + Hex(g.base) + ", " +
           std::to_string(g.SectorCount()) + " sectors of " + std::to_string(g.sectorSize >> 10) +
           " KiB, " + std::to_string(locked) + " protected\n");
  } else if (verb == "help") {
    print_(
        "protect off START END - allow erasing the sectors of START..END\n"
        "protect on START END  - protect them again\n"
        "erase START END       - erase whole sectors, END inclusive\n"
        "vfd TEXT              - show TEXT on the display\n"
        "flinfo                - flash layout\n");
    if (settings_.crc32Fault != Crc32Fault::Missing)
      print_("crc32 START COUNT     - CRC-32 of COUNT bytes from START, both hexadecimal\n");
  } else {
    print_("Unknown command '" + verb + "' - try 'help'\n");
    log_("unknown command \"" + command + "\"");
  }
}

bool Console::ParseRange(const std::string& a, const std::string& b, std::uint32_t& first,
                         std::uint32_t& last) {
  const FlashGeometry& g = flash_.Geometry();
  if (!ParseHex(a, first) || !ParseHex(b, last)) {
    print_("Error: addresses are hexadecimal numbers\n");
    return false;
  }
  if (first > last) {
    print_("Error: end address lies before start address\n");
    return false;
  }
  if (!g.Contains(first) || !g.Contains(last)) {
    print_("Error: " + Hex(first) + ".." + Hex(last) + " is not inside the flash (" + Hex(g.base) +
           ".." + Hex(g.base + (g.size - 1)) + ")\n");
    return false;
  }
  return true;
}

void Console::Protect(const std::string& how, const std::string& a, const std::string& b) {
  std::uint32_t first = 0, last = 0;
  if (!ParseRange(a, b, first, last)) return;
  bool on = how == "on";
  std::uint32_t s0 = flash_.SectorOf(first), s1 = flash_.SectorOf(last);
  for (std::uint32_t s = s0; s <= s1; ++s) flash_.SetProtected(s, on);
  std::string count = std::to_string(s1 - s0 + 1);
  print_((on ? "Protected " : "Un-Protected ") + count + " sectors\n");
  log_((on ? "protected " : "unprotected ") + count + " sectors from " + Hex(first));
}

void Console::StartErase(const std::string& a, const std::string& b, Clock::time_point now) {
  std::uint32_t first = 0, last = 0;
  if (!ParseRange(a, b, first, last)) return;
  const FlashGeometry& g = flash_.Geometry();
  if ((first - g.base) % g.sectorSize != 0) {
    print_("Error: start address " + Hex(first) + " is not at the start of a sector\n");
    return;
  }
  if ((last - g.base + 1) % g.sectorSize != 0) {
    print_("Error: end address " + Hex(last) + " is not at the end of a sector\n");
    return;
  }
  std::uint32_t s0 = flash_.SectorOf(first), s1 = flash_.SectorOf(last);
  std::uint32_t locked = 0;
  for (std::uint32_t s = s0; s <= s1; ++s) {
    if (!flash_.Protected(s)) continue;
    if (!settings_.skipProtected) {
      print_("Error: sector " + std::to_string(s) + " at " + Hex(flash_.SectorStart(s)) +
             " is protected, nothing erased\n");
      log_("erase refused: sector " + std::to_string(s) + " is protected");
      return;
    }
    ++locked;
  }
  if (locked > 0) {
    print_("- Warning: " + std::to_string(locked) + " protected sectors will not be erased!\n");
    log_("erase skips " + std::to_string(locked) + " protected sectors");
  }
  print_("Erasing " + std::to_string(s1 - s0 + 1) + " sectors from " + Hex(first) + " to " +
         Hex(last) + " ");
  erase_ = EraseJob{s0, s1, s0, now + settings_.sectorTime};
}

void Console::StartCrc(const std::string& a, const std::string& b, Clock::time_point now) {
  std::uint32_t start = 0, count = 0;
  if (!ParseHex(a, start) || !ParseHex(b, count)) {
    print_("Error: START and COUNT are hexadecimal numbers\n");
    return;
  }
  if (count == 0) {
    print_("Error: COUNT must be at least 1\n");
    return;
  }
  const FlashGeometry& g = flash_.Geometry();
  std::uint64_t last = std::uint64_t{start} + count - 1;
  if (!g.Contains(start) || last > std::uint64_t{g.base} + (g.size - 1)) {
    char text[32];
    std::snprintf(text, sizeof text, "%08llx", static_cast<unsigned long long>(last));
    print_("Error: " + Hex(start) + ".." + text + " is not inside the flash (" + Hex(g.base) +
           ".." + Hex(g.base + (g.size - 1)) + ")\n");
    return;
  }
  switch (settings_.crc32Fault) {
    case Crc32Fault::Silent:
      log_("crc32: the console hangs");
      hung_ = true;
      commands_.clear();
      return;
    case Crc32Fault::Reboot:
      log_("crc32: the Box starts again");
      rebootRequested_ = true;
      commands_.clear();
      return;
    default:
      break;
  }
  // A real console reads the flash at some tens of MiB a second.
  auto time = std::chrono::microseconds(std::uint64_t{count} * settings_.crcMsPerMiB * 1000 >> 20);
  crc_ = CrcJob{start, count, now + time};
}

void Console::FinishCrc() {
  std::uint32_t offset = crc_->start - flash_.Geometry().base;
  std::vector<std::uint8_t> piece(std::min(crc_->count, kCrcPiece));
  Crc32 crc;
  for (std::uint32_t done = 0; done < crc_->count;) {
    std::uint32_t n = std::min(crc_->count - done, kCrcPiece);
    if (std::string error = flash_.Read(offset + done, n, piece.data()); !error.empty()) {
      print_("Error: " + error + "\n");
      log_(error);
      return;
    }
    crc.Update(piece.data(), n);
    done += n;
  }
  std::uint32_t first = crc_->start, last = crc_->start + (crc_->count - 1);
  if (settings_.crc32Fault == Crc32Fault::WrongRange) {
    first += flash_.Geometry().sectorSize;
    last += flash_.Geometry().sectorSize;
  }
  std::string noise = settings_.crc32Fault == Crc32Fault::Garbage ? kLineNoise : "";
  print_("crc32 for " + HexOut(first) + " ... " + HexOut(last) + " " + noise + "==> " +
         HexOut(crc.Value()) + "\n");
  log_("crc32 of " + Hex(crc_->start) + ".." + Hex(crc_->start + (crc_->count - 1)) + ": " +
       Hex(crc.Value()));
  crcAnswered_ = true;
}

}  // namespace boxsim
