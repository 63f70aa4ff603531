// Digests through Windows CNG (bcrypt): one algorithm provider per call,
// the hash object allocated by the provider.
#include <windows.h>
// after windows.h
#include <bcrypt.h>

#include "digest/digest.h"

namespace digest {
namespace {

bool Hash(const wchar_t* algorithm, std::string_view key, bool keyed, Pieces pieces, uint8_t* out,
          ULONG size) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr,
                                                    keyed ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
    return false;
  }
  // An empty key is a valid HMAC key; CNG wants a non-null pointer for it.
  UCHAR none = 0;
  PUCHAR secret = key.empty() ? &none : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(::BCryptCreateHash(provider, &hash, nullptr, 0, keyed ? secret : nullptr,
                                              keyed ? static_cast<ULONG>(key.size()) : 0, 0));
  for (std::string_view piece : pieces) {
    if (!ok || piece.empty()) continue;
    ok = BCRYPT_SUCCESS(::BCryptHashData(hash,
                                         reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data())),
                                         static_cast<ULONG>(piece.size()), 0));
  }
  ok = ok && BCRYPT_SUCCESS(::BCryptFinishHash(hash, out, size, 0));
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  ::BCryptCloseAlgorithmProvider(provider, 0);
  return ok;
}

}  // namespace

bool Md5(Pieces pieces, Md5Digest* out) {
  return Hash(BCRYPT_MD5_ALGORITHM, {}, false, pieces, out->data(),
              static_cast<ULONG>(out->size()));
}

bool Sha256(Pieces pieces, Sha256Digest* out) {
  return Hash(BCRYPT_SHA256_ALGORITHM, {}, false, pieces, out->data(),
              static_cast<ULONG>(out->size()));
}

bool HmacSha256(std::string_view key, Pieces pieces, Sha256Digest* out) {
  return Hash(BCRYPT_SHA256_ALGORITHM, key, true, pieces, out->data(),
              static_cast<ULONG>(out->size()));
}

bool RandomBytes(uint8_t* out, std::size_t size) {
  return BCRYPT_SUCCESS(
      ::BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool SameBytes(const uint8_t* a, const uint8_t* b, std::size_t size) {
  volatile uint8_t differ = 0;
  for (std::size_t i = 0; i < size; ++i) differ = differ | static_cast<uint8_t>(a[i] ^ b[i]);
  return differ == 0;
}

void Wipe(void* data, std::size_t size) {
  ::SecureZeroMemory(data, size);
}

}  // namespace digest
