// Search and OKIP datagrams.
#include "discovery.h"

#include <cctype>
#include <cstring>

#include "byte_io.h"
#include "frame.h"
#include "messages.h"

namespace qvc::wire {
namespace {

constexpr char kSearchMagic[4] = {'N', 'X', 'L', 'S'};
constexpr char kOkipMagic[4] = {'N', 'X', 'L', 'B'};

void PutHeader(Writer& w, const char* magic, DiscoveryKind kind, uint32_t id) {
  w.Bytes(magic, 4);
  w.U8(kProtocolVersion);
  w.U8(static_cast<uint8_t>(kind));
  w.U16(0);
  w.U32(id);
}

bool CheckHeader(Reader& r, const char* magic, DiscoveryKind kind, uint32_t* id) {
  const uint8_t* m = r.Take(4);
  if (!m || std::memcmp(m, magic, 4) != 0) return false;
  if (r.U8() != kProtocolVersion) return false;
  if (r.U8() != static_cast<uint8_t>(kind)) return false;
  if (r.U16() != 0) return false;
  *id = r.U32();
  return r.ok();
}

}  // namespace

std::vector<uint8_t> EncodeSearchProbe(uint32_t search_id) {
  std::vector<uint8_t> out;
  Writer w(out);
  PutHeader(w, kSearchMagic, DiscoveryKind::kRequest, search_id);
  return out;
}

std::optional<uint32_t> DecodeSearchProbe(const uint8_t* data, size_t size) {
  if (size != kDiscoveryHeader) return std::nullopt;
  Reader r(data, size);
  uint32_t id = 0;
  if (!CheckHeader(r, kSearchMagic, DiscoveryKind::kRequest, &id)) return std::nullopt;
  return id;
}

std::vector<uint8_t> EncodeSearchAnswer(uint32_t search_id, const SearchAnswer& a) {
  std::vector<uint8_t> out;
  Writer w(out);
  PutHeader(w, kSearchMagic, DiscoveryKind::kAnswer, search_id);
  w.FixedText(a.group, kGroupField);
  w.I32(a.number);
  w.I32(a.card_type);
  w.I32(a.channel_count);
  w.U16(a.port);
  w.U16(0);
  w.Addr(a.address);
  w.FixedText(a.name, kSearchNameField);
  return out;
}

bool DecodeSearchAnswer(const uint8_t* data, size_t size, uint32_t* search_id, SearchAnswer* a) {
  if (size != kSearchAnswerSize) return false;
  Reader r(data, size);
  if (!CheckHeader(r, kSearchMagic, DiscoveryKind::kAnswer, search_id)) return false;
  a->group = r.FixedText(kGroupField);
  a->number = r.I32();
  a->card_type = r.I32();
  a->channel_count = r.I32();
  a->port = r.U16();
  r.U16();
  a->address = r.Addr();
  a->name = r.FixedText(kSearchNameField);
  if (!r.ok()) return false;
  for (char c : a->group) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  }
  return a->channel_count > 0 && a->channel_count <= 1024;
}

std::vector<uint8_t> EncodeOkip(DiscoveryKind kind, uint32_t message_id, const uint8_t* message) {
  std::vector<uint8_t> out;
  Writer w(out);
  PutHeader(w, kOkipMagic, kind, message_id);
  w.Bytes(message, kOkipMessageSize);
  return out;
}

bool DecodeOkip(const uint8_t* data, size_t size, DiscoveryKind kind, uint32_t* message_id,
                const uint8_t** message) {
  if (size != kOkipDatagramSize) return false;
  Reader r(data, size);
  if (!CheckHeader(r, kOkipMagic, kind, message_id)) return false;
  *message = r.Take(kOkipMessageSize);
  return *message != nullptr;
}

}  // namespace qvc::wire
