// The Telnet decoder of network ports against any bytes a server might send: truncated
// subnegotiations, unknown options and commands, IAC at the end of a chunk. Checked:
// - the stream cut into chunks at fuzzer-chosen places gives exactly the data bytes, once each
//   and in order, and the same negotiations and subnegotiations, as a decoder written over the
//   whole stream at once;
// - line data encoded for the server and decoded again is the same data, with nothing else;
// - two option tables that answer each other's requests fall silent after a bounded exchange,
//   whatever each accepts and asks for.
#include <cstdint>
#include <string>
#include <vector>

#include "serial/driver/posix/net/TelnetCodec.h"
#include "serial/driver/posix/net/TelnetOptions.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

namespace telnet = drv::posix::telnet;

struct Decoded {
  std::vector<std::uint8_t> data;
  std::string messages;  // "N<verb>,<opt>;" and "S<opt>:<hex payload>;" in arrival order

  void Negotiation(std::uint8_t verb, std::uint8_t option) {
    messages += 'N';
    messages += std::to_string(verb);
    messages += ',';
    messages += std::to_string(option);
    messages += ';';
  }
  void Subnegotiation(std::uint8_t option, const std::uint8_t* p, std::size_t n) {
    messages += 'S';
    messages += std::to_string(option);
    messages += ':';
    static const char* hex = "0123456789abcdef";
    for (std::size_t i = 0; i < n; ++i) {
      messages += hex[p[i] >> 4];
      messages += hex[p[i] & 15];
    }
    messages += ";";
  }
};

class Collect : public telnet::DecoderSink {
 public:
  explicit Collect(Decoded& d) : d_(d) {}
  void OnData(const std::uint8_t* data, std::size_t n) override {
    FUZZ_CHECK(n > 0, "an empty data run");
    d_.data.insert(d_.data.end(), data, data + n);
  }
  void OnNegotiation(std::uint8_t verb, std::uint8_t option) override {
    d_.Negotiation(verb, option);
  }
  void OnSubnegotiation(std::uint8_t option, const std::uint8_t* p, std::size_t n) override {
    FUZZ_CHECK(n <= telnet::kMaxSubnegotiation, "payload of %zu bytes", n);
    d_.Subnegotiation(option, p, n);
  }

 private:
  Decoded& d_;
};

// The protocol read straight off the whole stream, with indices rather than states.
Decoded DecodeWhole(const std::vector<std::uint8_t>& s, bool binary) {
  Decoded d;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const std::uint8_t b = s[i];
    if (b != telnet::kIac) {
      d.data.push_back(b);
      if (b == '\r' && !binary && i + 1 < n && s[i + 1] == 0) ++i;
      ++i;
      continue;
    }
    if (i + 1 >= n) break;
    const std::uint8_t c = s[i + 1];
    if (c == telnet::kIac) {
      d.data.push_back(telnet::kIac);
      i += 2;
    } else if (c >= telnet::kWill && c <= telnet::kDont) {
      if (i + 2 >= n) break;
      d.Negotiation(c, s[i + 2]);
      i += 3;
    } else if (c == telnet::kSb) {
      if (i + 2 >= n) break;
      const std::uint8_t option = s[i + 2];
      std::vector<std::uint8_t> payload;
      std::size_t j = i + 3;
      bool ended = false;
      while (j < n) {
        if (s[j] != telnet::kIac) {
          payload.push_back(s[j++]);
          continue;
        }
        if (j + 1 >= n) {
          j = n;
          break;
        }
        if (s[j + 1] == telnet::kIac) {
          payload.push_back(telnet::kIac);
          j += 2;
        } else if (s[j + 1] == telnet::kSe) {
          ended = true;
          j += 2;
          break;
        } else {
          break;  // the IAC at j starts a command: the subnegotiation is dropped
        }
      }
      if (ended && payload.size() <= telnet::kMaxSubnegotiation) {
        d.Subnegotiation(option, payload.data(), payload.size());
      }
      i = j;
    } else {
      i += 2;
    }
  }
  return d;
}

void CheckChunking(const std::vector<std::uint8_t>& stream, bool binary, std::uint32_t plan) {
  Decoded chunked;
  Collect sink(chunked);
  telnet::Decoder decoder;
  decoder.SetBinary(binary);
  std::size_t at = 0;
  while (at < stream.size()) {
    plan = plan * 1103515245u + 12345u;
    std::size_t len = 1 + (plan >> 16) % 9;
    if (len > stream.size() - at) len = stream.size() - at;
    decoder.Feed(stream.data() + at, len, sink);
    at += len;
  }
  const Decoded whole = DecodeWhole(stream, binary);
  FUZZ_CHECK(chunked.data == whole.data, "data differ: %zu bytes chunked, %zu whole",
             chunked.data.size(), whole.data.size());
  FUZZ_CHECK(chunked.messages == whole.messages, "messages differ:\n  %s\n  %s",
             chunked.messages.c_str(), whole.messages.c_str());
}

void CheckRoundTrip(const std::vector<std::uint8_t>& data, bool binary) {
  std::vector<std::uint8_t> wire;
  telnet::EncodeData(data.data(), data.size(), binary, wire);
  Decoded back;
  Collect sink(back);
  telnet::Decoder decoder;
  decoder.SetBinary(binary);
  decoder.Feed(wire.data(), wire.size(), sink);
  FUZZ_CHECK(back.data == data, "round trip of %zu bytes gave %zu", data.size(), back.data.size());
  FUZZ_CHECK(back.messages.empty(), "round trip raised %s", back.messages.c_str());
}

// Each table's output is fed to the other until both are silent.
void CheckNegotiationEnds(fuzz::FuzzInput& in) {
  telnet::OptionTable a, b;
  std::vector<std::uint8_t> toB, toA;
  for (int k = 0; k < 4; ++k) {
    const std::uint8_t option = in.Byte() & 7;
    a.Accept(option, in.Bool(), in.Bool());
    b.Accept(option, in.Bool(), in.Bool());
    if (in.Bool()) a.RequestLocal(option, toB);
    if (in.Bool()) a.RequestRemote(option, toB);
    if (in.Bool()) b.RequestLocal(option, toA);
    if (in.Bool()) b.RequestRemote(option, toA);
  }
  auto deliver = [](std::vector<std::uint8_t>& wire, telnet::OptionTable& to,
                    std::vector<std::uint8_t>& replies) {
    for (std::size_t i = 0; i + 3 <= wire.size(); i += 3) {
      to.Receive(wire[i + 1], wire[i + 2], replies);
    }
    wire.clear();
  };
  int rounds = 0;
  while (!toA.empty() || !toB.empty()) {
    FUZZ_CHECK(++rounds <= 8, "negotiation still going after %d rounds", rounds);
    std::vector<std::uint8_t> nextA, nextB;
    deliver(toB, b, nextA);
    deliver(toA, a, nextB);
    toA = std::move(nextA);
    toB = std::move(nextB);
  }
  for (int option = 0; option < 8; ++option) {
    const auto o = static_cast<std::uint8_t>(option);
    FUZZ_CHECK(!a.Pending(o) && !b.Pending(o), "option %d left pending", option);
    FUZZ_CHECK((a.Local(o) == telnet::OptionTable::State::kYes) ==
                   (b.Remote(o) == telnet::OptionTable::State::kYes),
               "option %d: the two ends disagree", option);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  const std::uint8_t switches = in.Byte();
  const bool binary = switches & 1;
  const std::uint32_t plan = in.U32();
  CheckNegotiationEnds(in);
  const std::string_view rest = in.Rest();
  const std::vector<std::uint8_t> stream(rest.begin(), rest.end());
  CheckChunking(stream, binary, plan);
  CheckRoundTrip(stream, binary);
  return 0;
}
