// Login digest through the platform's digest provider.
#include "auth.h"

#include <digest/digest.h>

namespace qvc::wire {

bool MakeNonce(Nonce* nonce) {
  return digest::RandomBytes(nonce->data(), nonce->size());
}

bool ComputeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                   Digest* digest) {
  static_assert(sizeof(Digest) == sizeof(digest::Sha256Digest));
  digest::Sha256Digest sum{};
  if (!digest::HmacSha256(password, {digest::Bytes(nonce.data(), nonce.size()), user}, &sum)) {
    return false;
  }
  std::copy(sum.begin(), sum.end(), digest->begin());
  return true;
}

bool SameDigest(const Digest& a, const Digest& b) {
  return digest::SameBytes(a.data(), b.data(), a.size());
}

}  // namespace qvc::wire
