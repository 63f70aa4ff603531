#include "auth.h"

#include <digest/digest.h>

#include <algorithm>

namespace octc::auth {

bool MakeNonce(Nonce& out) {
  return digest::RandomBytes(out.data(), out.size());
}

bool MakeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                Digest& out) {
  static_assert(sizeof(Digest) == sizeof(digest::Sha256Digest));
  digest::Sha256Digest sum{};
  if (!digest::Sha256(
          {digest::Bytes(nonce.data(), nonce.size()), user, std::string_view("\0", 1), password},
          &sum)) {
    return false;
  }
  std::copy(sum.begin(), sum.end(), out.begin());
  return true;
}

bool DigestEqual(const Digest& a, const Digest& b) {
  return digest::SameBytes(a.data(), b.data(), a.size());
}

}  // namespace octc::auth
