#include "vdevice/oct_media_info.h"

namespace vdevice {
namespace {

constexpr int32_t kVideoH264 = 1, kVideoH265 = 2;
constexpr int32_t kAudioMuLaw = 1, kAudioAac = 2, kAudioALaw = 4;

}  // namespace

OctMediaInfo OctMediaInfoOf(const VirtualDevice& device, int32_t duration_ms) {
  const MediaClip& clip = device.clip();
  OctMediaInfo m{};
  m.video_codec = clip.codec == VideoCodec::kH265 ? kVideoH265 : kVideoH264;
  m.width = clip.width;
  m.height = clip.height;
  m.frame_rate_x10000 = clip.fps * 10000;
  const DeviceSpec& spec = device.spec();
  m.audio_codec = !spec.audio ? 0 : spec.aac ? kAudioAac : spec.mu_law ? kAudioMuLaw : kAudioALaw;
  m.audio_channels = spec.audio_channels;
  m.audio_sample_rate = spec.audio_rate;
  m.audio_bits = 16;
  m.duration_ms = duration_ms;
  return m;
}

uint32_t OctTimestampMs(const VirtualDevice& device, uint64_t index) {
  return static_cast<uint32_t>(index * 1000 / static_cast<uint64_t>(device.clip().fps));
}

}  // namespace vdevice
