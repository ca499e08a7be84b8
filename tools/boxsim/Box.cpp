#include "tools/boxsim/Box.h"

#include <algorithm>
#include <cstdio>

#include "tools/boxsim/Hex.h"

namespace boxsim {

namespace {

const char* const kBanner[] = {
    "\nSimBox boot loader 2026.03 (simulated)\n",
    "CPU:   SIM-ARM926 at 400 MHz\n",
    "DRAM:  64 MiB\n",
    "Flash: 16 MiB\n",
    "In:    serial\nOut:   serial\nErr:   serial\n",
    "Net:   sim-eth0\n",
};
constexpr int kBannerLines = sizeof kBanner / sizeof kBanner[0];

const char* const kKernel[] = {
    "\nStarting kernel ...\n\n",
    "[    0.000000] Booting Linux on physical CPU 0x0\n",
    "[    0.000000] Kernel command line: console=ttyS0,115200 quiet\n",
    "[    0.412000] Freeing unused kernel memory: 144K\n",
    "[    0.530000] console handed over to the application\n",
};
constexpr int kKernelLines = sizeof kKernel / sizeof kKernel[0];

constexpr std::size_t kMaxLine = 1024;  // longer input is dropped, as a console buffer would
constexpr std::size_t kMaxPending = 4 * kMaxLine;  // typed while a command runs

ConsoleSettings SettingsOf(const Options& o) {
  ConsoleSettings s;
  s.sectorTime = std::chrono::milliseconds(o.sectorMs);
  s.crcMsPerMiB = o.crcMsPerMiB;
  s.upperHex = o.upperHex;
  s.skipProtected = o.stuckProtect;
  s.crc32Fault = o.crc32Fault;
  return s;
}

// Sets the chip's faults; returns what they are, for the log (the console's own log lines speak
// of erases as it believes them done).
std::string BreakChip(const Options& o, Flash& flash) {
  std::string faults;
  if (o.stuckProtect) {
    faults +=
        " stuck protection " + Hex(o.stuckProtectFirst) + ".." + Hex(o.stuckProtectLast) + ";";
    for (std::uint32_t s = flash.SectorOf(o.stuckProtectFirst);
         s <= flash.SectorOf(o.stuckProtectLast); ++s)
      flash.StickProtection(s);
  }
  flash.SetWriteProtected(o.writeProtected);
  if (o.writeProtected) faults += " write-protected, erases change nothing;";
  for (std::uint32_t address : o.stuckBytes) {
    flash.AddStuckByte(address - o.geometry.base);
    faults += " byte " + Hex(address) + " stuck;";
  }
  return faults;
}

}  // namespace

Box::Box(const Options& options, Flash& flash, Sink send, Sink log)
    : options_(options),
      send_(std::move(send)),
      log_(std::move(log)),
      console_(
          flash, SettingsOf(options), [this](const std::string& t) { Send(t); },
          [this](const std::string& t) { log_(t); },
          [this](std::uint32_t done, std::uint32_t total) {
            if (options_.hangupAt == HangupStage::Erase && done >= total / 2) {
              Reached(HangupStage::Erase);
              return false;
            }
            return true;
          }) {
  if (std::string faults = BreakChip(options, flash); !faults.empty())
    log_("flash faults:" + faults);
}

void Box::Send(const std::string& text) {
  if (options_.silent) return;
  if (!options_.crlf) {
    send_(text);
    return;
  }
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  send_(out);
}

void Box::Reached(HangupStage stage) {
  if (options_.hangupAt != stage || hangupDue_) return;
  hangupDue_ = true;
  log_(std::string("hang-up stage reached: ") + HangupStageName(stage));
}

void Box::PowerOn(Clock::time_point now) {
  log_("switched on");
  Start(now, options_.atConsole);
}

void Box::Reboot(Clock::time_point now) {
  log_("starting again");
  Start(now, false);
}

void Box::Start(Clock::time_point now, bool atConsole) {
  poweredAt_ = now;
  line_.clear();
  pending_.clear();
  console_.Reset();
  promptShown_ = false;
  step_ = 0;
  nextStepAt_ = now;
  if (atConsole && !options_.neverPrompt) {
    state_ = State::Console;
    Send("\n");
    ShowPrompt();
    return;
  }
  state_ = State::Booting;
  BootStep(now);
}

void Box::PowerOff() {
  if (state_ == State::Off) return;
  log_("switched off");
  state_ = State::Off;
  console_.Reset();
  line_.clear();
  pending_.clear();
}

void Box::ShowPrompt() {
  Send(options_.prompt);
  if (!promptShown_) log_("prompt shown");
  promptShown_ = true;
  Reached(HangupStage::Prompt);
  // The prompt after a crc32's answer: the tool has all it needs to prove the erase.
  if (console_.TakeCrcAnswered()) Reached(HangupStage::Readback);
}

// Boot steps: the banner lines spread over --boot-ms, the countdown start, one step a second
// down to 0, then the operating system's text.
void Box::BootStep(Clock::time_point now) {
  while (state_ == State::Booting && !hangupDue_ && nextStepAt_ <= now) {
    auto bannerGap = std::chrono::milliseconds(options_.bootMs / kBannerLines);
    if (step_ < kBannerLines) {
      Send(kBanner[step_]);
      if (step_ == 0) Reached(HangupStage::Boot);
      nextStepAt_ += step_ + 1 < kBannerLines ? bannerGap : std::chrono::milliseconds(0);
      if (step_ + 1 == kBannerLines)
        nextStepAt_ = poweredAt_ + std::chrono::milliseconds(options_.bootMs);
    } else {
      int remaining = options_.countdown - (step_ - kBannerLines);
      char text[64];
      if (step_ == kBannerLines) {
        std::snprintf(text, sizeof text, "Hit Enter to stop autoboot: %2d", remaining);
        Send(text);
      } else {
        std::snprintf(text, sizeof text, "\b\b%2d", remaining);
        Send(text);
      }
      if (remaining <= 0) {
        log_("autoboot: the operating system takes the line over");
        state_ = State::OsBooting;
        step_ = 0;
        nextStepAt_ = now;
        return;
      }
      nextStepAt_ += std::chrono::seconds(1);
    }
    ++step_;
  }
}

void Box::Advance(Clock::time_point now) {
  if (hangupDue_) return;
  switch (state_) {
    case State::Booting:
      BootStep(now);
      break;
    case State::OsBooting:
      while (state_ == State::OsBooting && nextStepAt_ <= now) {
        if (step_ < kKernelLines) {
          Send(kKernel[step_]);
          nextStepAt_ += std::chrono::milliseconds(150);
        } else if (options_.neverPrompt) {
          // A system that keeps talking and never offers a console.
          char text[80];
          std::snprintf(text, sizeof text, "[%5d.%06d] waiting for the application (%d)\n",
                        step_ / 2, (step_ % 2) * 500000, step_ - kKernelLines + 1);
          Send(text);
          nextStepAt_ += std::chrono::milliseconds(500);
        } else {
          log_("console gone");
          state_ = State::Gone;
        }
        ++step_;
      }
      break;
    case State::Console:
      if (console_.Busy()) {
        console_.Advance(now);
        if (console_.TakeRebootRequest()) {
          Reboot(now);
          break;
        }
        if (!console_.Busy() && !hangupDue_) {
          ShowPrompt();
          std::string typed;
          typed.swap(pending_);
          ConsoleInput(typed.data(), typed.size(), now);
        }
      }
      break;
    case State::Off:
    case State::Gone:
      break;
  }
}

std::optional<Clock::time_point> Box::NextDeadline() const {
  if (hangupDue_) return std::nullopt;
  switch (state_) {
    case State::Booting:
      return nextStepAt_;
    case State::OsBooting:
      return nextStepAt_;
    case State::Console:
      return console_.NextDeadline();
    case State::Off:
    case State::Gone:
      break;
  }
  return std::nullopt;
}

void Box::Input(const char* data, std::size_t size, Clock::time_point now) {
  if (hangupDue_) return;
  switch (state_) {
    case State::Booting: {
      if (options_.neverPrompt) return;
      for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        log_("line feed received while booting: boot stopped");
        Reached(HangupStage::Wake);
        if (hangupDue_) return;
        state_ = State::Console;
        Send("\n");
        ShowPrompt();
        ConsoleInput(data + i + 1, size - i - 1, now);
        return;
      }
      break;
    }
    case State::Console:
      ConsoleInput(data, size, now);
      break;
    case State::Off:
    case State::OsBooting:
    case State::Gone:
      break;
  }
}

void Box::ConsoleInput(const char* data, std::size_t size, Clock::time_point now) {
  for (std::size_t i = 0; i < size && !hangupDue_; ++i) {
    if (console_.Busy()) {
      // A console that never comes back (--crc32-silent) must not make the Box keep all it is sent.
      pending_.append(data + i,
                      std::min(size - i, kMaxPending - std::min(kMaxPending, pending_.size())));
      return;
    }
    char c = data[i];
    if (c != '\n') {
      if (line_.size() < kMaxLine) line_ += c;
      continue;
    }
    std::string line;
    line.swap(line_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Send(line + "\n");
    if (line.find_first_not_of(" \t") == std::string::npos) {
      ShowPrompt();
      continue;
    }
    log_("running \"" + line + "\"");
    console_.RunLine(line, now);
    if (console_.TakeRebootRequest()) {
      Reboot(now);  // what was typed after the line is lost with the console
      return;
    }
    if (!console_.Busy() && !hangupDue_) ShowPrompt();
  }
}

}  // namespace boxsim
