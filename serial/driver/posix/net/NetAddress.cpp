#include "serial/driver/posix/net/NetAddress.h"

#include <cctype>

namespace drv::posix {
namespace {

struct Scheme {
  const char* prefix;
  NetProtocol protocol;
};
constexpr Scheme kSchemes[] = {{"rfc2217://", NetProtocol::kRfc2217},
                               {"tcp://", NetProtocol::kRawTcp}};

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

const Scheme* SchemeOf(const std::string& name) {
  for (const Scheme& s : kSchemes) {
    if (StartsWithNoCase(name, s.prefix)) return &s;
  }
  return nullptr;
}

std::optional<NetAddress> Refuse(std::string* problem, const std::string& why) {
  if (problem) *problem = why;
  return std::nullopt;
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
  return SchemeOf(name) != nullptr;
}

std::optional<NetAddress> ParseNetAddress(const std::string& name, std::string* problem) {
  const Scheme* scheme = SchemeOf(name);
  if (!scheme) return Refuse(problem, "not a network port name (rfc2217:// or tcp://)");
  const std::string rest = name.substr(std::string(scheme->prefix).size());
  NetAddress address;
  address.protocol = scheme->protocol;

  std::string portText;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) return Refuse(problem, "an IPv6 address without its ']'");
    address.host = rest.substr(1, close - 1);
    if (close + 1 >= rest.size() || rest[close + 1] != ':') {
      return Refuse(problem, "no port number after the host (HOST:PORT)");
    }
    portText = rest.substr(close + 2);
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos) {
      return Refuse(problem, "no port number after the host (HOST:PORT)");
    }
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos) {
      return Refuse(problem, "an IPv6 address must be written in brackets ([::1]:PORT)");
    }
    portText = rest.substr(colon + 1);
  }
  if (address.host.empty()) return Refuse(problem, "no host before the port number");
  for (const char c : address.host) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == '@') {
      return Refuse(problem, "a host name with '" + std::string(1, c) + "' in it");
    }
  }
  if (portText.empty()) return Refuse(problem, "no port number after the host (HOST:PORT)");
  unsigned long port = 0;
  for (const char c : portText) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || portText.size() > 5) {
      return Refuse(problem, "the port '" + portText + "' is no number from 1 to 65535");
    }
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  if (port == 0 || port > 65535) {
    return Refuse(problem, "the port '" + portText + "' is no number from 1 to 65535");
  }
  address.port = static_cast<std::uint16_t>(port);
  return address;
}

std::string DescribeEndpoint(const NetAddress& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + " port " + std::to_string(address.port);
}

}  // namespace drv::posix
