#include "vdevice/stream_header.h"

#include <cstring>

namespace vdevice {

std::array<uint8_t, 32> ShortHeader(const DeviceSpec& spec, const MediaClip& clip,
                                    uint32_t total_frames) {
  std::array<uint8_t, 32> h{};
  uint8_t* p = h.data();
  std::memcpy(p, "QVS", 3);
  p[3] = spec.tag_version;
  PutLe32(p + 4, static_cast<uint32_t>(clip.width));
  PutLe32(p + 8, static_cast<uint32_t>(clip.height));
  PutLe32(p + 12, total_frames);
  // Standard word: 0 means 30 pictures a second, anything else 25.
  PutLe32(p + 16, clip.fps == 30 ? 0 : 1);
  if (spec.header == HeaderForm::kExtended) {
    std::memcpy(p + 24, p, 4);
    p[3] = ' ';
  }
  return h;
}

std::array<uint8_t, 96> StreamRecord(const DeviceSpec& spec, const MediaClip& clip,
                                     uint32_t total_frames) {
  std::array<uint8_t, 96> r{};
  const std::array<uint8_t, 32> head = ShortHeader(spec, clip, total_frames);
  uint8_t* p = r.data();
  std::memcpy(p, head.data(), head.size());
  std::memcpy(p + 32, "QFH", 3);
  PutLe16(p + 36, static_cast<uint32_t>(spec.device_type));
  PutLe16(p + 38, clip.codec == VideoCodec::kH265 ? 2 : 1);
  PutLe16(p + 40, spec.audio ? 1 : 0);
  PutLe16(p + 42, clip.fps == 30 ? 1 : 0);
  PutLe16(p + 44, static_cast<uint32_t>(clip.width));
  PutLe16(p + 46, static_cast<uint32_t>(clip.height));
  PutLe16(p + 48, static_cast<uint32_t>(clip.fps));
  PutLe16(p + 50, 1);
  PutLe16(p + 52, spec.aac ? 3 : spec.mu_law ? 2 : 1);
  PutLe16(p + 54, static_cast<uint32_t>(spec.audio_rate));
  PutLe16(p + 56, static_cast<uint32_t>(spec.audio_channels));
  PutLe16(p + 58, spec.aac ? 16 : 8);
  PutLe32(p + 60, total_frames);
  PutLe16(p + 64, static_cast<uint32_t>(spec.recording_kind));
  p[66] = 1;  // RPC text exchange supported
  return r;
}

std::vector<uint8_t> StreamHeaderMessage(const DeviceSpec& spec, const MediaClip& clip,
                                         uint32_t total_frames, bool playback) {
  std::vector<uint8_t> m;
  if (spec.header == HeaderForm::kWhole) {
    const std::array<uint8_t, 96> r = StreamRecord(spec, clip, total_frames);
    m.assign(2, 0);
    m.insert(m.end(), r.begin(), r.end());
    return m;
  }
  const std::array<uint8_t, 32> h = ShortHeader(spec, clip, total_frames);
  if (!playback) m.assign(2, 0);
  const size_t base = m.size();
  m.insert(m.end(), h.begin(), h.end());
  // Tag version 0x0A carries the frame rate x 10 right after the header and
  // an audio-absent byte before it (0: audio present).
  m.resize(base + 38, 0);
  PutLe32(m.data() + base + 34, static_cast<uint32_t>(clip.fps * 10));
  // The SDK reads these bytes relative to the message start.
  if (base == 0) {
    std::vector<uint8_t> shifted(40, 0);
    std::memcpy(shifted.data(), m.data(), 32);
    PutLe32(shifted.data() + 36, static_cast<uint32_t>(clip.fps * 10));
    return shifted;
  }
  return m;
}

}  // namespace vdevice
