// The Telnet layer of a network serial port: the byte stream from a serial server split into
// line data, option commands and subnegotiations, and line data escaped on the way out. Pure:
// no socket, no clock, so any bytes at all can be fed to it (a fuzz target does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drv::posix::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptComPort = 44;

// A subnegotiation longer than this is not one the port understands: its payload is dropped
// up to its end, so a server cannot make the decoder hold an unbounded amount.
inline constexpr std::size_t kMaxSubnegotiation = 64;

class DecoderSink {
 public:
  virtual ~DecoderSink() = default;
  // A run of line data, in order; runs of one Feed never overlap and are never repeated.
  virtual void OnData(const std::uint8_t* data, std::size_t n) = 0;
  // IAC WILL/WONT/DO/DONT option.
  virtual void OnNegotiation(std::uint8_t verb, std::uint8_t option) = 0;
  // IAC SB option payload IAC SE, with IAC IAC in the payload undone.
  virtual void OnSubnegotiation(std::uint8_t option, const std::uint8_t* payload,
                                std::size_t n) = 0;
};

class Decoder {
 public:
  // Until the server sends BINARY, NVT rules hold for what it sends: CR NUL stands for a bare
  // CR. In binary mode every byte is data as it is.
  void SetBinary(bool on) { binary_ = on; }

  // Any chunking of the stream gives the same calls as the stream fed at once, apart from data
  // runs being cut where the chunks are.
  void Feed(const std::uint8_t* bytes, std::size_t n, DecoderSink& sink);

 private:
  enum class State : std::uint8_t {
    kData,
    kIac,
    kVerb,
    kSbOption,
    kSbPayload,
    kSbIac,
    kCr,
  };

  void EndSubnegotiation(DecoderSink& sink);

  State state_ = State::kData;
  bool binary_ = false;
  std::uint8_t verb_ = 0;
  std::uint8_t sbOption_ = 0;
  bool sbOverlong_ = false;
  std::vector<std::uint8_t> sb_;
};

// Line data as it goes to the server: IAC doubled, and outside binary mode CR followed by NUL
// unless a line feed follows it in the same call.
void EncodeData(const std::uint8_t* data, std::size_t n, bool binary,
                std::vector<std::uint8_t>& out);

// IAC SB option payload IAC SE, with IAC in the payload doubled.
void EncodeSubnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n,
                          std::vector<std::uint8_t>& out);

}  // namespace drv::posix::telnet
