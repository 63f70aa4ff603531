// Look-ups in the directory service: a device number to its address, port
// and channel count. One short TCP exchange per look-up.
#pragma once

#include <string>

#include "library.h"
#include "messages.h"
#include "net.h"

namespace qvc {

enum class LookupResult { kAnswered, kWoken, kFailed };

// Asks the directory of `settings`; `answer->found` tells whether the device
// is registered. kFailed sets `error`.
LookupResult LookupDevice(const Settings& settings, const std::string& group, int32_t number,
                          int wake_fd, net::Clock::time_point deadline, wire::DirAnswer* answer,
                          std::string* error);

}  // namespace qvc
