// Encoders and checking decoders of the message payloads.
#include "messages.h"

#include <cctype>

#include "byte_io.h"

namespace qvc::wire {

std::vector<uint8_t> Encode(const Hello& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.U16(m.min_version);
  w.U16(m.max_version);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, Hello* m) {
  if (payload.size() != 4) return false;
  Reader r(payload.data(), payload.size());
  m->min_version = r.U16();
  m->max_version = r.U16();
  return r.ok() && m->min_version <= m->max_version;
}

std::vector<uint8_t> Encode(const Challenge& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.U16(m.version);
  w.U16(0);
  w.Bytes(m.nonce.data(), m.nonce.size());
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, Challenge* m) {
  if (payload.size() != 4 + kNonceSize) return false;
  Reader r(payload.data(), payload.size());
  m->version = r.U16();
  if (r.U16() != 0) return false;
  const uint8_t* nonce = r.Take(kNonceSize);
  if (!nonce) return false;
  std::copy(nonce, nonce + kNonceSize, m->nonce.begin());
  return true;
}

std::vector<uint8_t> Encode(const Login& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.Bytes(m.digest.data(), m.digest.size());
  w.I32(m.device_channel);
  w.I32(m.connect_type);
  size_t n = m.user.size() < kMaxUserName ? m.user.size() : kMaxUserName;
  w.U8(static_cast<uint8_t>(n));
  w.Bytes(m.user.data(), n);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, Login* m) {
  Reader r(payload.data(), payload.size());
  const uint8_t* digest = r.Take(kDigestSize);
  m->device_channel = r.I32();
  m->connect_type = r.I32();
  size_t n = r.U8();
  if (!r.ok() || n > kMaxUserName || r.remaining() != n) return false;
  std::copy(digest, digest + kDigestSize, m->digest.begin());
  const uint8_t* user = r.Take(n);
  m->user.assign(reinterpret_cast<const char*>(user), n);
  return true;
}

std::vector<uint8_t> Encode(const LoginRefused& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.U8(static_cast<uint8_t>(m.reason));
  size_t n = m.text.size() < kMaxRefusalText ? m.text.size() : kMaxRefusalText;
  w.Bytes(m.text.data(), n);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, LoginRefused* m) {
  if (payload.empty() || payload.size() > 1 + kMaxRefusalText) return false;
  uint8_t reason = payload[0];
  if (reason < 1 || reason > 6) return false;
  m->reason = static_cast<Refusal>(reason);
  m->text.assign(payload.begin() + 1, payload.end());
  return true;
}

std::vector<uint8_t> EncodeTyped(MsgType type, uint8_t sub_type, const uint8_t* data, size_t size) {
  return EncodeFrame(type, &sub_type, 1, data, size);
}

std::vector<uint8_t> EncodeData(uint32_t type, const uint8_t* data, size_t size) {
  uint8_t prefix[4];
  PutU32(prefix, type);
  return EncodeFrame(MsgType::kData, prefix, 4, data, size);
}

std::vector<uint8_t> EncodeDownload(uint8_t type, uint32_t total, const uint8_t* data,
                                    size_t size) {
  uint8_t prefix[5];
  prefix[0] = type;
  PutU32(prefix + 1, total);
  return EncodeFrame(MsgType::kDownload, prefix, 5, data, size);
}

std::string NormalGroup(const std::string& group) {
  std::string out;
  for (char c : group) {
    if (c == 0 || out.size() == kGroupField - 1) break;
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

namespace {

bool ValidGroup(const std::string& group) {
  for (char c : group) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> Encode(const DirRegister& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.FixedText(NormalGroup(m.group), kGroupField);
  w.I32(m.number);
  w.Addr(m.address);
  w.U16(m.port);
  w.U16(0);
  w.I32(m.channel_count);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, DirRegister* m) {
  if (payload.size() != kGroupField + 16) return false;
  Reader r(payload.data(), payload.size());
  m->group = NormalGroup(r.FixedText(kGroupField));
  m->number = r.I32();
  m->address = r.Addr();
  m->port = r.U16();
  r.U16();
  m->channel_count = r.I32();
  return r.ok() && ValidGroup(m->group) && m->port != 0 && m->channel_count > 0 &&
         m->channel_count <= 1024;
}

std::vector<uint8_t> Encode(const DirLookup& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.FixedText(NormalGroup(m.group), kGroupField);
  w.I32(m.number);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, DirLookup* m) {
  if (payload.size() != kGroupField + 4) return false;
  Reader r(payload.data(), payload.size());
  m->group = NormalGroup(r.FixedText(kGroupField));
  m->number = r.I32();
  return r.ok() && ValidGroup(m->group);
}

std::vector<uint8_t> Encode(const DirAnswer& m) {
  std::vector<uint8_t> out;
  Writer w(out);
  w.U8(m.found ? 1 : 0);
  w.U8(0);
  w.U16(m.port);
  w.Addr(m.address);
  w.I32(m.channel_count);
  return out;
}

bool Decode(const std::vector<uint8_t>& payload, DirAnswer* m) {
  if (payload.size() != 12) return false;
  Reader r(payload.data(), payload.size());
  uint8_t found = r.U8();
  r.U8();
  m->port = r.U16();
  m->address = r.Addr();
  m->channel_count = r.I32();
  if (!r.ok() || found > 1) return false;
  m->found = found == 1;
  return !m->found || (m->port != 0 && m->channel_count > 0);
}

}  // namespace qvc::wire
