// What each platform's socket file gives the socket code both share.
#pragma once

#include <string>

#include "netio/fd.h"

namespace netio::detail {

// "<what>: <text of the calling thread's last socket error>".
std::string LastErrorText(const char* what);

// Puts a socket back into blocking mode.
void SetBlocking(Socket fd);

}  // namespace netio::detail
