#include "audio_track.h"

#include <algorithm>

namespace qvsp {

std::optional<AudioFormat> AudioTrack::Format() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_format;
}

void AudioTrack::Start(const AudioFormat& format) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_format = format;
  m_capacity = static_cast<size_t>(format.rate) * kQueueMs / 1000;
  m_ring.assign(m_capacity * static_cast<size_t>(format.channels), 0);
  m_head = 0;
  m_queued = 0;
}

void AudioTrack::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_format.reset();
  m_ring = {};
  m_capacity = 0;
  m_head = 0;
  m_queued = 0;
}

void AudioTrack::Append(const AudioFormat& format, const int16_t* samples, size_t frames) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_format != format || m_capacity == 0) return;
  const auto channels = static_cast<size_t>(format.channels);
  if (frames > m_capacity) {  // only the block's newest part fits
    samples += (frames - m_capacity) * channels;
    frames = m_capacity;
  }
  const size_t overflow = m_queued + frames > m_capacity ? m_queued + frames - m_capacity : 0;
  m_head = (m_head + overflow) % m_capacity;
  m_queued -= overflow;
  size_t tail = (m_head + m_queued) % m_capacity;
  while (frames > 0) {
    const size_t n = std::min(frames, m_capacity - tail);
    std::copy_n(samples, n * channels, m_ring.begin() + static_cast<ptrdiff_t>(tail * channels));
    samples += n * channels;
    frames -= n;
    m_queued += n;
    tail = (tail + n) % m_capacity;
  }
}

void AudioTrack::MixInto(int32_t* sum, size_t frames) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_format) return;
  const auto channels = static_cast<size_t>(m_format->channels);
  frames = std::min(frames, m_queued);
  m_queued -= frames;
  while (frames > 0) {
    const size_t n = std::min(frames, m_capacity - m_head);
    const int16_t* from = m_ring.data() + m_head * channels;
    for (size_t i = 0; i < n * channels; ++i) sum[i] += from[i];
    sum += n * channels;
    frames -= n;
    m_head = (m_head + n) % m_capacity;
  }
}

}  // namespace qvsp
