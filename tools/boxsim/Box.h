// The Box's behaviour over time: off, booting with a countdown that a line feed stops, its
// console (echo, commands, prompt), or the operating system that takes the line over for good.
//
// Pure logic: the caller passes the time, feeds received bytes in and carries the text the
// Box sends (through `send`) to the line. Text is produced with "\n" line ends; the Box turns
// them into CR LF when asked to.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tools/boxsim/Console.h"
#include "tools/boxsim/Options.h"

namespace boxsim {

class Box {
 public:
  using Sink = std::function<void(const std::string&)>;

  Box(const Options& options, Flash& flash, Sink send, Sink log);

  void PowerOn(Clock::time_point now);
  void PowerOff();
  bool On() const { return state_ != State::Off; }
  void Input(const char* data, std::size_t size, Clock::time_point now);
  void Advance(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadline() const;
  // The --hangup-at stage has been reached: the caller closes the line once the text sent up
  // to that moment has gone out.
  bool HangupDue() const { return hangupDue_; }

 private:
  enum class State { Off, Booting, Console, OsBooting, Gone };

  void Start(Clock::time_point now, bool atConsole);
  void Reboot(Clock::time_point now);
  void Send(const std::string& text);
  void Reached(HangupStage stage);
  void BootStep(Clock::time_point now);
  void StopBoot(Clock::time_point now);
  void ConsoleInput(const char* data, std::size_t size, Clock::time_point now);
  void ShowPrompt();

  const Options& options_;
  Sink send_, log_;
  Console console_;
  State state_ = State::Off;
  int step_ = 0;  // position in the boot or OS text
  Clock::time_point nextStepAt_{};
  Clock::time_point poweredAt_{};
  std::string line_;     // the console line being typed
  std::string pending_;  // typed while a command line runs
  bool hangupDue_ = false;
  bool promptShown_ = false;
};

}  // namespace boxsim
