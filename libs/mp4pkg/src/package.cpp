#include "package.h"

#include <cmath>
#include <cstdio>

namespace qp {
namespace {

double UsableFrameRate(float rate) {
  const double r = rate;
  if (!std::isfinite(r) || r < Package::kMinFrameRate || r > Package::kMaxFrameRate) {
    return Package::kDefaultFrameRate;
  }
  return r;
}

uint16_t QdxAudioCodec(const PackageSettings& s) {
  if (!s.has_audio) return 0;
  switch (s.audio_codec) {
    case AudioCodec::kAlaw: return 1;
    case AudioCodec::kUlaw: return 2;
    case AudioCodec::kAac: return 3;
  }
  return 0;
}

}  // namespace

std::unique_ptr<Package> Package::Open(const PackageSettings& settings) {
  auto package = std::make_unique<Package>(Key{}, settings);
  if (!package->m_file.Open(settings.file)) return nullptr;
  if (settings.index_file && !package->m_index.Open(*settings.index_file)) {
    // Leave no empty MP4 behind for a package that never existed.
    package->m_file.Close();
    std::remove(settings.file.c_str());
    return nullptr;
  }
  return package;
}

Package::Package(const Key&, const PackageSettings& settings)
    : m_settings(settings),
      m_frame_rate(UsableFrameRate(settings.frame_rate)),
      m_video_time(m_origin, Muxer::kVideoUnits, 0) {}

Package::~Package() {
  Close();
}

bool Package::SetAudioFormat(int sample_rate, int channels) {
  const int max_channels = m_settings.audio_codec == AudioCodec::kAac ? 8 : 2;
  if (m_state != State::kWaitingKey || sample_rate < 8000 || sample_rate > 96000 || channels < 1 ||
      channels > max_channels) {
    return false;
  }
  if (m_settings.audio_codec == AudioCodec::kAac &&
      AudioSpecificConfig({2, sample_rate, channels}).empty()) {
    return false;
  }
  m_sample_rate = sample_rate;
  m_channels = channels;
  return true;
}

AacConfig Package::ConfiguredAac() const {
  return {2, m_sample_rate, m_channels};
}

bool Package::StartMuxer() {
  VideoTrack video{m_codec, m_settings.width, m_settings.height, m_frame_rate, m_parameter_sets};
  std::optional<AudioTrack> audio;
  if (m_settings.has_audio) {
    audio = AudioTrack{m_settings.audio_codec, m_sample_rate, m_channels, {}};
    if (m_settings.audio_codec == AudioCodec::kAac) {
      const AacConfig config = m_aac.value_or(ConfiguredAac());
      audio->sample_rate = config.sample_rate;
      audio->channels = config.channels;
      audio->config = AudioSpecificConfig(config);
    }
  }
  m_muxer = Muxer::Start(m_file, video, audio);
  if (!m_muxer) return false;
  if (audio) m_audio_time.emplace(m_origin, audio->sample_rate, audio->sample_rate / 10);
  if (m_index.IsOpen()) {
    QdxHeader header{static_cast<uint16_t>(m_codec == VideoCodec::kH265 ? 2 : 1),
                     QdxAudioCodec(m_settings), static_cast<uint32_t>(m_settings.width),
                     static_cast<uint32_t>(m_settings.height), static_cast<float>(m_frame_rate)};
    m_index.Write(EncodeQdxHeader(header));
  }
  m_state = State::kRunning;
  return true;
}

// The muxer refused the parameter sets (or the file): start again from
// scratch at the next key frame.
void Package::AbandonStart() {
  m_muxer.reset();
  m_file.Truncate();
  m_pending.clear();
  m_pending_bytes = 0;
  m_codec = VideoCodec::kUnknown;
  m_parameter_sets.clear();
  m_origin = {};
  m_video_time = Timeline(m_origin, Muxer::kVideoUnits, 0);
  m_state = State::kWaitingKey;
}

bool Package::StartWithPendingVideo() {
  if (!StartMuxer()) {
    AbandonStart();
    return false;
  }
  for (const PendingVideo& v : m_pending) WriteVideo(v.data, v.placement, v.key);
  m_pending.clear();
  m_pending_bytes = 0;
  return true;
}

void Package::WriteFlushedIndexEntry() {
  if (m_unwritten_entry && m_muxer->Position() > m_unwritten_entry->offset) {
    m_index.Write(EncodeQdxEntry(*m_unwritten_entry));
    m_unwritten_entry.reset();
  }
}

bool Package::WriteVideo(std::span<const uint8_t> data, const Placement& placement, bool key) {
  const bool ok = m_muxer->WriteVideo(data, placement.pts, placement.duration, key);
  if (m_index.IsOpen()) {
    WriteFlushedIndexEntry();
    if (ok && key) {
      // Everything before this key frame is in the file now; its fragment
      // starts where the file ends.
      m_unwritten_entry =
          QdxEntry{placement.pts * 1000 / Muxer::kVideoUnits, m_muxer->Position(), m_video_frames};
    }
  }
  if (ok) ++m_video_frames;
  return ok;
}

bool Package::AddVideo(std::span<const uint8_t> frame, int64_t timestamp_ms) {
  if (m_state == State::kClosed) return false;
  const std::vector<Bytes> nals = SplitAnnexB(frame);
  if (nals.empty()) return false;
  if (m_state == State::kWaitingKey) {
    const VideoCodec codec = m_settings.video_codec != VideoCodec::kUnknown ? m_settings.video_codec
                                                                            : RecogniseCodec(nals);
    if (codec == VideoCodec::kUnknown || !IsKeyFrame(codec, nals)) return false;
    std::vector<uint8_t> parameter_sets = ParameterSets(codec, nals);
    if (parameter_sets.empty()) return false;
    m_codec = codec;
    m_parameter_sets = std::move(parameter_sets);
    const bool wait_for_aac =
        m_settings.has_audio && m_settings.audio_codec == AudioCodec::kAac && !m_aac;
    if (wait_for_aac) {
      m_state = State::kWaitingAudioConfig;
    } else if (!StartMuxer()) {
      AbandonStart();
      return false;
    }
  }
  const bool key = IsKeyFrame(m_codec, nals);
  const auto placement =
      m_video_time.Place(timestamp_ms, std::llround(Muxer::kVideoUnits / m_frame_rate));
  if (!placement) return false;
  if (m_state == State::kRunning) return WriteVideo(frame, *placement, key);

  m_pending.push_back({{frame.begin(), frame.end()}, *placement, key});
  m_pending_bytes += frame.size();
  const int64_t span = placement->pts - m_pending.front().placement.pts;
  if (span >= kMaxPendingUnits || m_pending.size() >= kMaxPendingFrames ||
      m_pending_bytes >= kMaxPendingBytes) {
    // No audio came to tell the AAC configuration: use the configured one.
    if (!StartWithPendingVideo()) return false;
  }
  return true;
}

bool Package::AddAudio(std::span<const uint8_t> frame, int64_t timestamp_ms) {
  if (!m_settings.has_audio || m_state == State::kClosed) return false;
  std::vector<std::span<const uint8_t>> frames;
  int64_t samples_each = 0;
  if (m_settings.audio_codec == AudioCodec::kAac) {
    samples_each = 1024;
    if (LooksLikeAdts(frame)) {
      const std::vector<AdtsFrame> adts = SplitAdts(frame);
      if (adts.empty() || AudioSpecificConfig(adts.front().config).empty()) return false;
      if (!m_aac) m_aac = adts.front().config;
      for (const AdtsFrame& f : adts) {
        if (!f.payload.empty()) frames.push_back(f.payload);
      }
    } else {
      if (!m_aac && m_state != State::kWaitingKey) m_aac = ConfiguredAac();
      frames.push_back(frame);
    }
  } else {
    const size_t samples = frame.size() / static_cast<size_t>(m_channels);
    if (samples == 0) return false;
    samples_each = static_cast<int64_t>(samples);
    frames.push_back(frame.first(samples * static_cast<size_t>(m_channels)));
  }
  if (frames.empty()) return false;
  // Audio before the first key frame has no place in the file; it can only
  // tell the AAC configuration.
  if (m_state == State::kWaitingKey) return false;
  if (m_state == State::kWaitingAudioConfig) {
    if (!StartWithPendingVideo()) return false;
  }
  return WriteAudioFrames(frames, timestamp_ms, samples_each);
}

bool Package::WriteAudioFrames(const std::vector<std::span<const uint8_t>>& frames,
                               int64_t timestamp_ms, int64_t samples_each) {
  bool any = false;
  for (size_t i = 0; i < frames.size(); ++i) {
    // One timestamp covers the first frame of a record; the rest follow it.
    const auto placement = m_audio_time->Place(i == 0 ? timestamp_ms : 0, samples_each);
    if (!placement) continue;
    if (m_muxer->WriteAudio(frames[i], placement->pts, placement->duration)) any = true;
    if (m_index.IsOpen()) WriteFlushedIndexEntry();
  }
  return any;
}

void Package::Close() {
  if (m_state == State::kClosed) return;
  if (m_state == State::kWaitingAudioConfig) {
    if (StartMuxer()) {
      for (const PendingVideo& v : m_pending) WriteVideo(v.data, v.placement, v.key);
    } else {
      AbandonStart();
    }
    m_pending.clear();
  }
  if (m_muxer) {
    m_muxer->Finish();
    if (m_index.IsOpen()) WriteFlushedIndexEntry();
    m_muxer.reset();
  }
  m_file.Close();
  m_index.Close();
  m_state = State::kClosed;
}

}  // namespace qp
