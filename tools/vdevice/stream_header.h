// The stream headers a device sends: the whole 96-byte stream-information
// record (with "QFH" and the RPC-support byte) or the older 32-byte header
// tagged "QVS" + version, plain or extended ("QVS " with the real tag at
// byte 24).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "vdevice/device_settings.h"
#include "vdevice/media_clip.h"

namespace vdevice {

inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}
inline uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The whole record: what the SDK keeps as its stream information.
std::array<uint8_t, 96> StreamRecord(const DeviceSpec& spec, const MediaClip& clip,
                                     uint32_t total_frames);

// The 32-byte header (the record's first 32 bytes in the short forms).
std::array<uint8_t, 32> ShortHeader(const DeviceSpec& spec, const MediaClip& clip,
                                    uint32_t total_frames);

// The payload of a frame-type-8 stream header message: live headers start
// with the sub-type byte 0 and a reserved byte; playback headers do too for
// a whole record, and start with the short header itself otherwise.
std::vector<uint8_t> StreamHeaderMessage(const DeviceSpec& spec, const MediaClip& clip,
                                         uint32_t total_frames, bool playback);

}  // namespace vdevice
