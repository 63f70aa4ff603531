// Small pieces shared by the socket calls: the text of a failed system call
// and the socket address of an IPv4 address and port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string.h>

#include <cstdint>
#include <string>

#include "netio/fd.h"

namespace netio {

inline std::string ErrorText(const char* what, int err) {
  char buf[128];
  return std::string(what) + ": " + ::strerror_r(err, buf, sizeof buf);
}

inline sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

// A socket of `type` bound to address:port; with `reuse` others may bind the
// same address and port, with `broadcast` it may send broadcasts.
Fd BoundSocket(int type, uint32_t address, uint16_t port, bool reuse, bool broadcast,
               std::string* error);

}  // namespace netio
