#include "audio_output.h"

#include <algorithm>

namespace qvsp {

bool AudioOutput::Play(const std::shared_ptr<AudioTrack>& track) {
  std::lock_guard<std::mutex> device(m_device);
  if (track->Retired() || (m_id == 0 && !OpenDevice())) return false;
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

bool AudioOutput::OpenDevice() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  SDL_AudioSpec wanted{};
  wanted.freq = kRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = kChannels;
  wanted.samples = kBufferFrames;
  wanted.callback = &AudioOutput::Fill;
  wanted.userdata = this;
  SDL_AudioSpec obtained{};
  m_id = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                             SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (m_id == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  {
    // The device starts paused: the callback runs only after the unpause.
    std::lock_guard<std::mutex> mix(m_mix);
    m_format = AudioFormat{obtained.freq, obtained.channels};
    m_sum.assign(static_cast<size_t>(obtained.samples) * obtained.channels, 0);
  }
  SDL_PauseAudioDevice(m_id, 0);
  return true;
}

void AudioOutput::CloseDevice() {
  if (m_id == 0) return;
  SDL_CloseAudioDevice(m_id);  // waits for SDL's audio thread
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  m_id = 0;
}

void SDLCALL AudioOutput::Fill(void* self, Uint8* stream, int length) {
  auto* output = static_cast<AudioOutput*>(self);
  output->Mix(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(length) / sizeof(int16_t));
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
