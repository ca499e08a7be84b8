#include "serial/driver/posix/net/TelnetCodec.h"

namespace drv::posix::telnet {

namespace {

bool IsNegotiationVerb(std::uint8_t b) {
  return b >= kWill && b <= kDont;
}

}  // namespace

void Decoder::EndSubnegotiation(DecoderSink& sink) {
  if (!sbOverlong_) sink.OnSubnegotiation(sbOption_, sb_.data(), sb_.size());
  sb_.clear();
  sbOverlong_ = false;
}

void Decoder::Feed(const std::uint8_t* bytes, std::size_t n, DecoderSink& sink) {
  std::size_t runStart = 0;  // start of the data run not yet handed out, while in kData
  auto flush = [&](std::size_t end) {
    if (end > runStart) sink.OnData(bytes + runStart, end - runStart);
  };

  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case State::kCr:
        state_ = State::kData;
        if (b == 0) {
          runStart = i + 1;
          break;
        }
        runStart = i;
        [[fallthrough]];
      case State::kData:
        if (b == kIac) {
          flush(i);
          state_ = State::kIac;
        } else if (b == '\r' && !binary_) {
          flush(i + 1);
          runStart = i + 1;
          state_ = State::kCr;
        }
        break;
      case State::kIac:
        if (b == kIac) {
          // The doubled IAC is one data byte: the second one starts the next run.
          runStart = i;
          state_ = State::kData;
        } else if (IsNegotiationVerb(b)) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kSb) {
          state_ = State::kSbOption;
        } else {
          // NOP, GA, AYT and the rest carry nothing a serial port acts on.
          runStart = i + 1;
          state_ = State::kData;
        }
        break;
      case State::kVerb:
        sink.OnNegotiation(verb_, b);
        runStart = i + 1;
        state_ = State::kData;
        break;
      case State::kSbOption:
        sbOption_ = b;
        sb_.clear();
        sbOverlong_ = false;
        state_ = State::kSbPayload;
        break;
      case State::kSbPayload:
        if (b == kIac) {
          state_ = State::kSbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sbOverlong_ = true;
        }
        break;
      case State::kSbIac:
        if (b == kIac) {
          if (sb_.size() < kMaxSubnegotiation) {
            sb_.push_back(kIac);
          } else {
            sbOverlong_ = true;
          }
          state_ = State::kSbPayload;
        } else if (b == kSe) {
          EndSubnegotiation(sink);
          runStart = i + 1;
          state_ = State::kData;
        } else {
          // A command inside a subnegotiation ends it unfinished: drop what it held and take
          // the byte as the command it is, so a server that lost an SE does not swallow the line.
          sb_.clear();
          sbOverlong_ = false;
          state_ = State::kIac;
          --i;
        }
        break;
    }
  }
  if (state_ == State::kData) flush(n);
}

void EncodeData(const std::uint8_t* data, std::size_t n, bool binary,
                std::vector<std::uint8_t>& out) {
  out.reserve(out.size() + n + n / 16 + 2);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = data[i];
    out.push_back(b);
    if (b == kIac) {
      out.push_back(kIac);
    } else if (b == '\r' && !binary && (i + 1 >= n || data[i + 1] != '\n')) {
      out.push_back(0);
    }
  }
}

void EncodeSubnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n,
                          std::vector<std::uint8_t>& out) {
  out.push_back(kIac);
  out.push_back(kSb);
  out.push_back(option);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(payload[i]);
    if (payload[i] == kIac) out.push_back(kIac);
  }
  out.push_back(kIac);
  out.push_back(kSe);
}

}  // namespace drv::posix::telnet
