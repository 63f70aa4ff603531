// The host's allow-list of configuration-dialog libraries, by SHA-256
// digest.
#include <digest/digest.h>
#include <qcsdk/qcsdk.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "qcsdk/dialog/config_dialog.h"

namespace qcsdk {
namespace {

using Digest = digest::Sha256Digest;

// The SHA-256 digests of the dialog libraries the host allows; empty: any.
std::mutex g_digestLock;
std::vector<Digest> g_allowedDigests;

bool ParseDigest(const char* hex, Digest& out) {
  if (hex == nullptr || strnlen(hex, 65) != 64) return false;
  for (std::size_t i = 0; i < out.size(); ++i) {
    unsigned int byte = 0;
    if (std::sscanf(hex + 2 * i, "%2x", &byte) != 1 || !std::isxdigit(hex[2 * i]) ||
        !std::isxdigit(hex[2 * i + 1])) {
      return false;
    }
    out[i] = static_cast<uint8_t>(byte);
  }
  return true;
}

std::vector<Digest> AllowedDigests() {
  std::lock_guard<std::mutex> guard(g_digestLock);
  return g_allowedDigests;
}

bool Listed(const std::vector<Digest>& allowed, const void* data, std::size_t size) {
  Digest sum{};
  if (!digest::Sha256({digest::Bytes(data, size)}, &sum)) return false;
  return std::find(allowed.begin(), allowed.end(), sum) != allowed.end();
}

}  // namespace

bool CfgLibraryAllowed(const char* path) {
  const std::vector<Digest> allowed = AllowedDigests();
  if (allowed.empty()) return true;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> body{std::istreambuf_iterator<char>(in), {}};
  return Listed(allowed, body.data(), body.size());
}

bool CfgLibraryAllowed(const std::vector<uint8_t>& library) {
  const std::vector<Digest> allowed = AllowedDigests();
  return allowed.empty() || Listed(allowed, library.data(), library.size());
}

}  // namespace qcsdk

extern "C" QCSDK_API int32_t QCSDK_CALL QCSDK_SetCfgDialogDigests(const char* const* digests,
                                                                  int32_t count) {
  try {
    if (count < 0 || (count > 0 && digests == nullptr)) return 0;
    std::vector<qcsdk::Digest> parsed(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      if (!qcsdk::ParseDigest(digests[i], parsed[static_cast<std::size_t>(i)])) return 0;
    }
    std::lock_guard<std::mutex> guard(qcsdk::g_digestLock);
    qcsdk::g_allowedDigests = std::move(parsed);
    return 1;
  } catch (...) {
    return 0;
  }
}
