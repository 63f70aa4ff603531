#include "auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace octc::auth {

bool MakeNonce(Nonce& out) { return RAND_bytes(out.data(), static_cast<int>(out.size())) == 1; }

bool MakeDigest(const Nonce& nonce, const std::string& user, const std::string& password,
                Digest& out) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx) return false;
  const uint8_t zero = 0;
  unsigned int len = 0;
  return EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1 &&
         EVP_DigestUpdate(ctx.get(), nonce.data(), nonce.size()) == 1 &&
         EVP_DigestUpdate(ctx.get(), user.data(), user.size()) == 1 &&
         EVP_DigestUpdate(ctx.get(), &zero, 1) == 1 &&
         EVP_DigestUpdate(ctx.get(), password.data(), password.size()) == 1 &&
         EVP_DigestFinal_ex(ctx.get(), out.data(), &len) == 1 && len == out.size();
}

bool DigestEqual(const Digest& a, const Digest& b) {
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace octc::auth
