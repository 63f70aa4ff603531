// Digests for the RPC "user" block (MD5), the dialog allow-list and the
// transports' challenge-response logins (SHA-256, HMAC-SHA256), with the
// random nonces and constant-time comparisons those logins need.
//
// Each platform uses the provider it ships: libcrypto on Linux, CNG (bcrypt)
// on Windows. CNG is part of every supported Windows, so the DLLs need no
// cross-built OpenSSL beside them for what amounts to three algorithms.
//
// The input of a digest is given as pieces that are hashed as if joined in
// order, so callers never build the joined message themselves. Every
// function answers false when the provider fails, and the output is then
// unspecified.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace digest {

using Md5Digest = std::array<uint8_t, 16>;
using Sha256Digest = std::array<uint8_t, 32>;
using Pieces = std::initializer_list<std::string_view>;

// A byte range seen as one piece.
inline std::string_view Bytes(const void* data, std::size_t size) {
  return {static_cast<const char*>(data), size};
}

bool Md5(Pieces pieces, Md5Digest* out);
bool Sha256(Pieces pieces, Sha256Digest* out);
bool HmacSha256(std::string_view key, Pieces pieces, Sha256Digest* out);

// Cryptographically strong random bytes.
bool RandomBytes(uint8_t* out, std::size_t size);
// Equality of two ranges in a time that does not depend on where they differ.
bool SameBytes(const uint8_t* a, const uint8_t* b, std::size_t size);
// Overwrites a secret in a way the compiler does not drop.
void Wipe(void* data, std::size_t size);

}  // namespace digest
