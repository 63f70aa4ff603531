// The login digest: HMAC-SHA256 keyed with the password over the device's
// nonce followed by the user name. The password itself never leaves the
// process.
#pragma once

#include <array>
#include <string>

#include "messages.h"

namespace qvc::wire {

using Nonce = std::array<uint8_t, kNonceSize>;
using Digest = std::array<uint8_t, kDigestSize>;

// A fresh random nonce; false when the random generator fails.
bool MakeNonce(Nonce* nonce);
// False when the digest cannot be computed.
bool ComputeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                   Digest* digest);
// Compares in constant time.
bool SameDigest(const Digest& a, const Digest& b);

}  // namespace qvc::wire
