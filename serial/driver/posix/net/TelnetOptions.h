// Telnet option negotiation for a serial server connection (the RFC 1143 "Q method", without
// its queue): the options this end wants on each side, the state of each, and the replies a
// server's requests call for. Every request is answered at most once and an answer is never
// answered, so two ends can never talk each other into a loop.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace drv::posix::telnet {

class OptionTable {
 public:
  enum class State : std::uint8_t { kNo, kYes, kWantNo, kWantYes };

  // Options this end agrees to: `local` for WILL (this end performs it), `remote` for DO
  // (the server performs it). Anything else a server offers or asks for is refused.
  void Accept(std::uint8_t option, bool local, bool remote);

  // Asks for an option to be enabled: appends IAC WILL (local) or IAC DO (remote) to out
  // unless it is already enabled or asked for.
  void RequestLocal(std::uint8_t option, std::vector<std::uint8_t>& out);
  void RequestRemote(std::uint8_t option, std::vector<std::uint8_t>& out);

  // A server's WILL/WONT/DO/DONT: appends whatever reply it needs (often none) to out.
  void Receive(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out);

  State Local(std::uint8_t option) const { return local_[option]; }
  State Remote(std::uint8_t option) const { return remote_[option]; }
  // Asked for and not yet answered either way.
  bool Pending(std::uint8_t option) const {
    return local_[option] == State::kWantYes || local_[option] == State::kWantNo ||
           remote_[option] == State::kWantYes || remote_[option] == State::kWantNo;
  }

 private:
  static void Answer(State& s, bool agree, bool positive, std::uint8_t yesVerb, std::uint8_t noVerb,
                     std::uint8_t option, std::vector<std::uint8_t>& out);

  std::array<State, 256> local_{};
  std::array<State, 256> remote_{};
  std::array<bool, 256> acceptLocal_{};
  std::array<bool, 256> acceptRemote_{};
};

}  // namespace drv::posix::telnet
