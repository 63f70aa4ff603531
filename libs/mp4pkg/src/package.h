// One MP4 package: the state behind a QP_Handle. Video frames are Annex B
// H.264 or H.265; nothing is written until the first key frame that carries
// its parameter sets, which starts the muxer (and, with AAC audio whose
// configuration is not known yet, the first audio frame or a short wait
// does). The ".qdx" index, when asked for, gets its header when the muxer
// starts and one entry per key frame once that frame's fragment is in the
// file. Not thread-safe: the caller serialises calls on one package.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "aac.h"
#include "annexb.h"
#include "muxer.h"
#include "output_file.h"
#include "qdx_index.h"
#include "timeline.h"

namespace qp {

struct PackageSettings {
  int width = 0;
  int height = 0;
  float frame_rate = 0;  // any value; unusable rates become kDefaultFrameRate
  bool has_audio = false;
  AudioCodec audio_codec = AudioCodec::kAlaw;
  VideoCodec video_codec = VideoCodec::kUnknown;  // unknown: recognised from the stream
  std::string file;
  std::optional<std::string> index_file;
};

class Package {
  // Only the factory constructs one.
  struct Key {
    explicit Key() = default;
  };

 public:
  static constexpr double kDefaultFrameRate = 25;
  static constexpr double kMinFrameRate = 0.1;
  static constexpr double kMaxFrameRate = 1000;
  static constexpr int kDefaultSampleRate = 8000;
  static constexpr int kDefaultChannels = 1;
  // Video held back while waiting for the AAC configuration.
  static constexpr int64_t kMaxPendingUnits = 2 * Muxer::kVideoUnits;
  static constexpr size_t kMaxPendingFrames = 150;
  static constexpr size_t kMaxPendingBytes = 32 * 1024 * 1024;

  // Creates the MP4 file (and the index file); nothing on failure.
  static std::unique_ptr<Package> Open(const PackageSettings& settings);
  Package(const Key&, const PackageSettings& settings);
  ~Package();
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  // Sample rate and channel count of G.711 and of raw (not ADTS) AAC; only
  // before the first key frame.
  bool SetAudioFormat(int sample_rate, int channels);
  // Whether the frame went into the file (or is held for it).
  bool AddVideo(std::span<const uint8_t> frame, int64_t timestamp_ms);
  bool AddAudio(std::span<const uint8_t> frame, int64_t timestamp_ms);
  // Finishes both files; later calls do nothing.
  void Close();

  double frame_rate() const { return m_frame_rate; }

 private:
  enum class State { kWaitingKey, kWaitingAudioConfig, kRunning, kClosed };
  struct PendingVideo {
    std::vector<uint8_t> data;
    Placement placement;
    bool key = false;
  };

  bool StartMuxer();
  void AbandonStart();
  // Starts the muxer and writes the video held back until then.
  bool StartWithPendingVideo();
  bool WriteVideo(std::span<const uint8_t> data, const Placement& placement, bool key);
  bool WriteAudioFrames(const std::vector<std::span<const uint8_t>>& frames, int64_t timestamp_ms,
                        int64_t samples_each);
  void WriteFlushedIndexEntry();
  AacConfig ConfiguredAac() const;

  PackageSettings m_settings;
  double m_frame_rate;
  int m_sample_rate = kDefaultSampleRate;
  int m_channels = kDefaultChannels;
  State m_state = State::kWaitingKey;

  OutputFile m_file;
  OutputFile m_index;
  std::unique_ptr<Muxer> m_muxer;

  VideoCodec m_codec = VideoCodec::kUnknown;
  std::vector<uint8_t> m_parameter_sets;
  std::optional<AacConfig> m_aac;
  std::deque<PendingVideo> m_pending;
  size_t m_pending_bytes = 0;

  TimeOrigin m_origin;
  Timeline m_video_time;
  std::optional<Timeline> m_audio_time;  // made when the muxer starts (needs the rate)
  uint32_t m_video_frames = 0;
  std::optional<QdxEntry> m_unwritten_entry;
};

}  // namespace qp
