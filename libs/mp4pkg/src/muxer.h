// libavformat's MP4 muxer over an OutputFile, writing fragmented MP4: an
// empty 'moov' at the start, then a 'moof'+'mdat' fragment from every video
// key frame and at least every second, so a file cut off by a crash keeps
// everything up to its last complete fragment. Annex B video is handed to
// the muxer as is: with Annex B parameter sets as extradata, the muxer
// builds avcC/hvcC and rewrites each sample to length-prefixed NAL units.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "annexb.h"
#include "output_file.h"

struct AVFormatContext;
struct AVIOContext;
struct AVStream;

namespace qp {

enum class AudioCodec { kAlaw, kUlaw, kAac };

struct VideoTrack {
  VideoCodec codec = VideoCodec::kUnknown;
  int width = 0;
  int height = 0;
  double frame_rate = 25;
  std::vector<uint8_t> parameter_sets;  // Annex B VPS/SPS/PPS
};

struct AudioTrack {
  AudioCodec codec = AudioCodec::kAlaw;
  int sample_rate = 8000;
  int channels = 1;
  std::vector<uint8_t> config;  // AudioSpecificConfig for AAC
};

class Muxer {
  // Only the factory constructs one.
  struct Key {
    explicit Key() = default;
  };

 public:
  // Video time is in 1/90000 s, audio time in samples.
  static constexpr int kVideoUnits = 90000;
  // Longest fragment when key frames are further apart.
  static constexpr int64_t kMaxFragmentMicros = 1000000;

  // Writes the file header from the start of `file`. Nothing on failure
  // (for example parameter sets the muxer cannot parse).
  static std::unique_ptr<Muxer> Start(OutputFile& file, const VideoTrack& video,
                                      const std::optional<AudioTrack>& audio);
  explicit Muxer(const Key&) {}
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  bool WriteVideo(std::span<const uint8_t> frame, int64_t pts, int64_t duration, bool key);
  bool WriteAudio(std::span<const uint8_t> frame, int64_t pts, int64_t duration);
  // Bytes in the file: where the fragment being collected will start.
  uint64_t Position() const;
  // Writes the last fragment and the trailer.
  bool Finish();

 private:
  struct ContextDeleter {
    void operator()(AVFormatContext* ctx) const;
  };
  struct IoDeleter {
    void operator()(AVIOContext* io) const;
  };

  bool Write(AVStream* stream, std::span<const uint8_t> data, int64_t pts, int64_t duration,
             int units, bool key);

  std::unique_ptr<AVIOContext, IoDeleter> m_io;
  std::unique_ptr<AVFormatContext, ContextDeleter> m_ctx;
  AVStream* m_video = nullptr;
  AVStream* m_audio = nullptr;
  int m_audio_rate = 0;
  bool m_finished = false;
};

}  // namespace qp
