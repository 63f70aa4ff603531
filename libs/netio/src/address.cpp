// Dotted IPv4 text and loopback, without the system: the same on every
// platform. Name resolution and the ends of a socket are in socket_*.cpp.
#include "netio/address.h"

#include <cstdio>
#include <cstring>

namespace netio {

bool ParseAddress(const char* text, uint32_t* out) {
  // Four decimal parts of 0..255 joined by dots, without leading zeros and
  // with nothing before or after, as inet_pton reads them.
  if (!text) return false;
  uint8_t bytes[4] = {};
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    if (*p < '0' || *p > '9') return false;
    unsigned value = 0;
    const char* first = p;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<unsigned>(*p++ - '0');
      if (value > 255 || (p - first > 1 && *first == '0')) return false;
    }
    bytes[part] = static_cast<uint8_t>(value);
  }
  if (*p != '\0') return false;
  std::memcpy(out, bytes, sizeof bytes);  // network order: the first part first
  return true;
}

std::string FormatAddress(uint32_t address) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return buf;
}

bool IsLoopback(uint32_t address) {
  uint8_t first = 0;
  std::memcpy(&first, &address, 1);
  return first == 127;
}

}  // namespace netio
