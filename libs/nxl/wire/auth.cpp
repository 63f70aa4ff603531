// Login digest through OpenSSL's EVP message digests.
#include "auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <vector>

namespace qvc::wire {

bool MakeNonce(Nonce* nonce) {
  return RAND_bytes(nonce->data(), static_cast<int>(nonce->size())) == 1;
}

bool ComputeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                   Digest* digest) {
  std::vector<uint8_t> message(nonce.begin(), nonce.end());
  message.insert(message.end(), user.begin(), user.end());
  unsigned int size = 0;
  const unsigned char* result =
      HMAC(EVP_sha256(), password.data(), static_cast<int>(password.size()), message.data(),
           message.size(), digest->data(), &size);
  return result != nullptr && size == digest->size();
}

bool SameDigest(const Digest& a, const Digest& b) {
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace qvc::wire
