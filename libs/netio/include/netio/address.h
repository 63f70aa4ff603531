// IPv4 addresses: parsing, name resolution and formatting, and the ends of
// a socket. Addresses are in network byte order everywhere; ports in host
// byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "netio/fd.h"

namespace netio {

// The any address and 127.0.0.1, in network order.
inline constexpr uint32_t kAnyAddress = 0;
inline constexpr uint32_t kLoopback =
    std::endian::native == std::endian::little ? 0x0100007Fu : 0x7F000001u;

// A dotted IPv4 address; false when the text is not one.
bool ParseAddress(const char* text, uint32_t* out);
// A dotted address or a host name resolved to its first IPv4 address.
bool ResolveIpv4(const std::string& host, uint32_t* out);
std::string FormatAddress(uint32_t address);
bool IsLoopback(uint32_t address);

// Dotted text as the system's inet_addr reads it (shorter and octal or
// hexadecimal forms too); 0xFFFFFFFF for text it rejects.
uint32_t InetAddr(const char* text);
// The address of network card `card`: 1 is the first IPv4 address of the
// interfaces that are up, in the system's order, loopback included. False
// when there is no such card.
bool CardAddress(int32_t card, uint32_t* address);

// The local port of a bound socket, 0 on error.
uint16_t LocalPort(Socket fd);
// The address of the peer of a connected socket, 0 on error.
uint32_t PeerAddress(Socket fd);

// One end of a datagram exchange.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

}  // namespace netio
