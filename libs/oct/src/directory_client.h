// Queries to the directory service: where a cloud number is registered, and
// which numbers are online.
#pragma once

#include <octc/octc.h>

#include <atomic>
#include <string>
#include <vector>

#include "settings.h"

namespace octc {

// 0 with the address and port, OCTC_ERR_UNREACHABLE (directory down or the
// number unknown), OCTC_ERR_TIMEOUT or OCTC_ERR_PROTOCOL.
int32_t DirectoryLookup(const Settings& s, const std::string& number, std::string* address,
                        uint16_t* port, const std::atomic<bool>* cancel);
// Fills one entry per number; returns how many are online, or a negative result.
int32_t DirectoryStatus(const Settings& s, const std::vector<std::string>& numbers,
                        std::vector<OctOnlineStatus>* out);

}  // namespace octc
