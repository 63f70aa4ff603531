#include "messages.h"

namespace octc::wire {
namespace {

void WriteTime(Writer& w, const OctTime& t) {
  w.I32(t.year).I32(t.month).I32(t.day).I32(t.hour).I32(t.minute).I32(t.second).I32(t.millisecond);
}
void ReadTime(Reader& r, OctTime& t) {
  t.year = r.I32();
  t.month = r.I32();
  t.day = r.I32();
  t.hour = r.I32();
  t.minute = r.I32();
  t.second = r.I32();
  t.millisecond = r.I32();
}

}  // namespace

void WriteDevInfo(Writer& w, const DevInfoData& d) {
  w.Text(d.device_id).Text(d.name).Text(d.version);
  w.I32(d.device_type).I32(d.channel_count).I32(d.stream_count).I32(d.client_limit);
}

bool ReadDevInfo(Reader& r, DevInfoData& d) {
  d.device_id = r.Text();
  d.name = r.Text();
  d.version = r.Text();
  d.device_type = r.I32();
  d.channel_count = r.I32();
  d.stream_count = r.I32();
  d.client_limit = r.I32();
  return r.ok();
}

void WriteRecItem(Writer& w, const RecItemData& d) {
  w.Text(d.name).Text(d.path);
  w.I32(d.channel).I32(d.kind).I32(d.year).I32(d.month).I32(d.day);
  w.I32(d.hour).I32(d.minute).I32(d.second).I32(d.duration_s).I32(0).U64(d.size);
}

bool ReadRecItem(Reader& r, RecItemData& d) {
  d.name = r.Text();
  d.path = r.Text();
  d.channel = r.I32();
  d.kind = r.I32();
  d.year = r.I32();
  d.month = r.I32();
  d.day = r.I32();
  d.hour = r.I32();
  d.minute = r.I32();
  d.second = r.I32();
  d.duration_s = r.I32();
  r.I32();  // reserved
  d.size = r.U64();
  return r.ok();
}

void WriteMediaInfo(Writer& w, const OctMediaInfo& m) {
  w.I32(m.video_codec).I32(m.width).I32(m.height).I32(m.frame_rate_x10000);
  w.I32(m.audio_codec).I32(m.audio_channels).I32(m.audio_sample_rate).I32(m.audio_bits);
  w.I32(m.duration_ms);
}

bool ReadMediaInfo(Reader& r, OctMediaInfo& m) {
  m.video_codec = r.I32();
  m.width = r.I32();
  m.height = r.I32();
  m.frame_rate_x10000 = r.I32();
  m.audio_codec = r.I32();
  m.audio_channels = r.I32();
  m.audio_sample_rate = r.I32();
  m.audio_bits = r.I32();
  m.duration_ms = r.I32();
  return r.ok();
}

void WriteRecQuery(Writer& w, const OctRecQuery& q) {
  w.I32(q.channel);
  WriteTime(w, q.begin);
  WriteTime(w, q.end);
}

bool ReadRecQuery(Reader& r, OctRecQuery& q) {
  q.channel = r.I32();
  ReadTime(r, q.begin);
  ReadTime(r, q.end);
  return r.ok();
}

void WriteSearchAnswer(Writer& w, const SearchAnswerData& d) {
  w.Text(d.device_id).Text(d.name).Text(d.address).Text(d.version);
  w.I32(d.device_type).I32(d.channel_count).I32(d.flags).U16(d.port);
}

bool ReadSearchAnswer(Reader& r, SearchAnswerData& d) {
  d.device_id = r.Text();
  d.name = r.Text();
  d.address = r.Text();
  d.version = r.Text();
  d.device_type = r.I32();
  d.channel_count = r.I32();
  d.flags = r.I32();
  d.port = r.U16();
  return r.ok();
}

bool DeliverSearchAnswer(const uint8_t* data, size_t size,
                         const std::function<void(uint32_t probe, const OctSearchInfo&)>& deliver) {
  Header h;
  if (size < kHeaderSize || !DecodeHeader(data, h) || h.type != Type::kSearchAnswer ||
      h.length != size - kHeaderSize) {
    return false;
  }
  Reader r(data + kHeaderSize, h.length);
  SearchAnswerData d;
  if (!ReadSearchAnswer(r, d) || !r.AtEnd()) return false;
  OctSearchInfo info{};
  info.device_id = d.device_id.c_str();
  info.name = d.name.c_str();
  info.device_type = d.device_type;
  info.channel_count = d.channel_count;
  info.flags = d.flags;
  info.address = d.address.c_str();
  info.port = d.port;
  deliver(h.seq, info);
  return true;
}

}  // namespace octc::wire
