// IPv4 addresses: parsing, name resolution and formatting, and the ends of
// a socket. Addresses are in network byte order everywhere; ports in host
// byte order.
#pragma once

#include <cstdint>
#include <string>

namespace netio {

// A dotted IPv4 address; false when the text is not one.
bool ParseAddress(const char* text, uint32_t* out);
// A dotted address or a host name resolved to its first IPv4 address.
bool ResolveIpv4(const std::string& host, uint32_t* out);
std::string FormatAddress(uint32_t address);
bool IsLoopback(uint32_t address);

// The local port of a bound socket, 0 on error.
uint16_t LocalPort(int fd);
// The address of the peer of a connected socket, 0 on error.
uint32_t PeerAddress(int fd);

// One end of a datagram exchange.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

}  // namespace netio
