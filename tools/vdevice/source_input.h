// One connection to a camera's stream (an RTSP URL or any input libavformat
// opens): its H.264/H.265 video as Annex B access units, each key frame
// carrying the parameter sets, and its G.711 or AAC audio (AAC with an ADTS
// header on every frame). A network stream's packets come as they arrive; a
// file's are paced at its own time stamps, as a live camera would send them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vdevice/device_settings.h"

namespace vdevice {

enum class SourceAudio { kNone, kALaw, kMuLaw, kAac };

// What a source sends, as the device announces it.
struct SourceFormat {
  VideoCodec codec = VideoCodec::kH264;
  int width = 0;
  int height = 0;
  int fps = 25;
  SourceAudio audio = SourceAudio::kNone;
  int audio_rate = 8000;
  int audio_channels = 1;
};

struct SourcePacket {
  bool audio = false;
  bool key = false;
  std::vector<uint8_t> data;
};

class SourceInput {
 public:
  // `stop` is polled while libavformat waits; a true answer ends the wait.
  using StopQuery = std::function<bool()>;
  // Opens and reads the stream information; throws std::runtime_error when
  // the input cannot be opened or holds no H.264/H.265 video.
  SourceInput(const std::string& url, bool udp, StopQuery stop);
  ~SourceInput();
  SourceInput(const SourceInput&) = delete;
  SourceInput& operator=(const SourceInput&) = delete;

  const SourceFormat& format() const { return format_; }
  // The next packet, when it is due; false when the stream ended, broke or
  // stayed silent for the read time-out, or `stop` said so.
  bool Read(SourcePacket* out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  SourceFormat format_;
};

}  // namespace vdevice
