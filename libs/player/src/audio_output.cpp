#include "audio_output.h"

#include <algorithm>

namespace qvsp {

AudioOutput::AudioOutput() = default;

AudioOutput::~AudioOutput() {
  Shutdown();
}

bool AudioOutput::Play(const std::shared_ptr<AudioTrack>& track) {
  std::lock_guard<std::mutex> device(m_device);
  if (track->Retired()) return false;
  if (!m_open) {
    m_open = OpenDevice();
    if (!m_open) return false;
  }
  std::lock_guard<std::mutex> mix(m_mix);
  if (std::find(m_tracks.begin(), m_tracks.end(), track) == m_tracks.end()) {
    track->Start(m_format);
    m_tracks.push_back(track);
  }
  return true;
}

void AudioOutput::Stop(const std::shared_ptr<AudioTrack>& track) {
  std::lock_guard<std::mutex> device(m_device);
  bool last = false;
  {
    std::lock_guard<std::mutex> mix(m_mix);
    std::erase(m_tracks, track);
    last = m_tracks.empty();
  }
  track->Stop();
  if (last) CloseDevice();
}

void AudioOutput::Shutdown() {
  std::lock_guard<std::mutex> device(m_device);
  std::vector<std::shared_ptr<AudioTrack>> tracks;
  {
    std::lock_guard<std::mutex> mix(m_mix);
    tracks.swap(m_tracks);
  }
  for (const auto& track : tracks) track->Stop();
  CloseDevice();
}

void AudioOutput::CloseDevice() {
  m_open.reset();
}

void AudioOutput::Begin(const AudioFormat& format, size_t bufferFrames) {
  std::lock_guard<std::mutex> mix(m_mix);
  m_format = format;
  m_sum.assign(bufferFrames * static_cast<size_t>(std::max(format.channels, 1)), 0);
}

void AudioOutput::Mix(int16_t* out, size_t samples) {
  std::lock_guard<std::mutex> mix(m_mix);
  const auto channels = static_cast<size_t>(std::max(m_format.channels, 1));
  while (samples >= channels && !m_sum.empty()) {
    const size_t frames = std::min(samples, m_sum.size()) / channels;
    const size_t n = frames * channels;
    std::fill_n(m_sum.begin(), n, 0);
    for (const auto& track : m_tracks) track->MixInto(m_sum.data(), frames);
    for (size_t i = 0; i < n; ++i) {
      out[i] = static_cast<int16_t>(std::clamp<int32_t>(m_sum[i], INT16_MIN, INT16_MAX));
    }
    out += n;
    samples -= n;
  }
  std::fill_n(out, samples, int16_t{0});
}

}  // namespace qvsp
