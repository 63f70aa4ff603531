// Challenge-response login: the device sends a random nonce, the client
// answers SHA-256(nonce || user || 0x00 || password); the password itself
// never crosses the wire.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "wire.h"

namespace octc::auth {

using Nonce = std::array<uint8_t, wire::kNonceSize>;
using Digest = std::array<uint8_t, wire::kDigestSize>;

bool MakeNonce(Nonce& out);
bool MakeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                Digest& out);
// Constant-time comparison.
bool DigestEqual(const Digest& a, const Digest& b);

}  // namespace octc::auth
