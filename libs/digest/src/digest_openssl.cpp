// Digests through libcrypto's EVP interface.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <memory>

#include "digest/digest.h"

namespace digest {
namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
};

bool Hash(const EVP_MD* md, Pieces pieces, uint8_t* out, unsigned int size) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1;
  for (std::string_view piece : pieces) {
    ok = ok && EVP_DigestUpdate(ctx.get(), piece.data(), piece.size()) == 1;
  }
  unsigned int length = 0;
  return ok && EVP_DigestFinal_ex(ctx.get(), out, &length) == 1 && length == size;
}

}  // namespace

bool Md5(Pieces pieces, Md5Digest* out) {
  return Hash(EVP_md5(), pieces, out->data(), static_cast<unsigned int>(out->size()));
}

bool Sha256(Pieces pieces, Sha256Digest* out) {
  return Hash(EVP_sha256(), pieces, out->data(), static_cast<unsigned int>(out->size()));
}

bool HmacSha256(std::string_view key, Pieces pieces, Sha256Digest* out) {
  const std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr));
  std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
  char sha256[] = OSSL_DIGEST_NAME_SHA2_256;
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sha256, 0),
                               OSSL_PARAM_construct_end()};
  bool ok = ctx != nullptr && EVP_MAC_init(ctx.get(), reinterpret_cast<const uint8_t*>(key.data()),
                                           key.size(), params) == 1;
  for (std::string_view piece : pieces) {
    ok = ok && EVP_MAC_update(ctx.get(), reinterpret_cast<const uint8_t*>(piece.data()),
                              piece.size()) == 1;
  }
  std::size_t length = 0;
  return ok && EVP_MAC_final(ctx.get(), out->data(), &length, out->size()) == 1 &&
         length == out->size();
}

bool RandomBytes(uint8_t* out, std::size_t size) {
  return RAND_bytes(out, static_cast<int>(size)) == 1;
}

bool SameBytes(const uint8_t* a, const uint8_t* b, std::size_t size) {
  return CRYPTO_memcmp(a, b, size) == 0;
}

void Wipe(void* data, std::size_t size) {
  OPENSSL_cleanse(data, size);
}

}  // namespace digest
