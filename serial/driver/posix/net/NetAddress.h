// The names of network serial ports: "rfc2217://HOST:PORT" (Telnet with Com Port Control, the
// serial server applies the port's settings) and "tcp://HOST:PORT" (bytes only; the settings
// are the server's). HOST is a name, an IPv4 address or an IPv6 address in brackets
// ("[::1]:3001"). The scheme is compared without regard to case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace drv::posix {

enum class NetProtocol { kRfc2217, kRawTcp };

struct NetAddress {
  NetProtocol protocol = NetProtocol::kRfc2217;
  std::string host;  // without brackets
  std::uint16_t port = 0;
};

// Whether the name is meant as a network port: it starts with one of the two schemes. Such a
// name is never a device path, whether or not the rest of it is well formed.
bool IsNetworkPortName(const std::string& name);

// The address a network port name gives, or nothing with *problem saying what is wrong with it.
std::optional<NetAddress> ParseNetAddress(const std::string& name, std::string* problem);

// "HOST port PORT", IPv6 addresses in brackets, for messages.
std::string DescribeEndpoint(const NetAddress& address);

}  // namespace drv::posix
