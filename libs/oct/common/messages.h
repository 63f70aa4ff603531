// Payload bodies that both sides of the OCT protocol encode and decode.
#pragma once

#include <octc/octc.h>

#include <cstdint>
#include <functional>
#include <string>

#include "wire.h"

namespace octc::wire {

struct DevInfoData {
  std::string device_id;
  std::string name;
  std::string version;
  int32_t device_type = 0;
  int32_t channel_count = 0;
  int32_t stream_count = 0;
  int32_t client_limit = 0;
};

struct RecItemData {
  std::string name;
  std::string path;
  int32_t channel = 0;
  int32_t kind = 0;
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int32_t duration_s = 0;
  uint64_t size = 0;
};

struct SearchAnswerData {
  std::string device_id;
  std::string name;
  std::string address;
  std::string version;
  int32_t device_type = 0;
  int32_t channel_count = 0;
  int32_t flags = 0;
  uint16_t port = 0;
};

// Smallest encoded record item: two empty texts and ten 32-bit fields and
// the 64-bit size; used to bound counts before allocating.
inline constexpr size_t kMinRecItemSize = 2 + 2 + 10 * 4 + 8;

void WriteDevInfo(Writer& w, const DevInfoData& d);
bool ReadDevInfo(Reader& r, DevInfoData& d);
void WriteRecItem(Writer& w, const RecItemData& d);
bool ReadRecItem(Reader& r, RecItemData& d);
void WriteMediaInfo(Writer& w, const OctMediaInfo& m);
bool ReadMediaInfo(Reader& r, OctMediaInfo& m);
void WriteRecQuery(Writer& w, const OctRecQuery& q);
bool ReadRecQuery(Reader& r, OctRecQuery& q);
void WriteSearchAnswer(Writer& w, const SearchAnswerData& d);
bool ReadSearchAnswer(Reader& r, SearchAnswerData& d);

// A whole search-answer datagram (header and body): when it is one, hands
// `deliver` the probe number it answers and the answer as the library
// reports it (texts valid during the call) and returns true.
bool DeliverSearchAnswer(const uint8_t* data, size_t size,
                         const std::function<void(uint32_t probe, const OctSearchInfo&)>& deliver);

}  // namespace octc::wire
