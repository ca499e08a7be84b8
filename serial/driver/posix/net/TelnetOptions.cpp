#include "serial/driver/posix/net/TelnetOptions.h"

#include "serial/driver/posix/net/TelnetCodec.h"

namespace drv::posix::telnet {

namespace {

void Send(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

}  // namespace

void OptionTable::Accept(std::uint8_t option, bool local, bool remote) {
  acceptLocal_[option] = local;
  acceptRemote_[option] = remote;
}

void OptionTable::RequestLocal(std::uint8_t option, std::vector<std::uint8_t>& out) {
  if (local_[option] != State::kNo) return;
  local_[option] = State::kWantYes;
  Send(kWill, option, out);
}

void OptionTable::RequestRemote(std::uint8_t option, std::vector<std::uint8_t>& out) {
  if (remote_[option] != State::kNo) return;
  remote_[option] = State::kWantYes;
  Send(kDo, option, out);
}

// positive: the peer said WILL/DO. yesVerb/noVerb: what this end says back for that side.
void OptionTable::Answer(State& s, bool agree, bool positive, std::uint8_t yesVerb,
                         std::uint8_t noVerb, std::uint8_t option, std::vector<std::uint8_t>& out) {
  if (positive) {
    switch (s) {
      case State::kNo:
        if (agree) {
          s = State::kYes;
          Send(yesVerb, option, out);
        } else {
          Send(noVerb, option, out);
        }
        break;
      case State::kYes:
        break;
      case State::kWantYes:
        s = State::kYes;  // the answer to our own request
        break;
      case State::kWantNo:
        // The peer answered our refusal with an offer: it is in error; stay off, say nothing.
        s = State::kNo;
        break;
    }
  } else {
    switch (s) {
      case State::kNo:
        break;
      case State::kYes:
        s = State::kNo;
        Send(noVerb, option, out);
        break;
      case State::kWantYes:
      case State::kWantNo:
        s = State::kNo;  // refused, or the answer to our own refusal
        break;
    }
  }
}

void OptionTable::Receive(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& out) {
  switch (verb) {
    case kWill:
    case kWont:
      Answer(remote_[option], acceptRemote_[option], verb == kWill, kDo, kDont, option, out);
      break;
    case kDo:
    case kDont:
      Answer(local_[option], acceptLocal_[option], verb == kDo, kWill, kWont, option, out);
      break;
    default:
      break;
  }
}

}  // namespace drv::posix::telnet
