// The library's one sound output: a single SDL audio device, opened when the
// first player starts playing and closed when the last one stops, whose
// callback mixes the queues of every playing player (summed, clamped to
// 16 bits).
//
// Only SDL's audio subsystem is used, initialised while the device is open
// and quit when it closes, with SDL's signal handlers turned off: a library
// must not change the host's signal handling.
//
// Threads: host threads start and stop tracks, decoding threads fill them,
// and SDL's audio thread mixes them. m_device serialises SDL's own calls
// (initialising, opening and closing are not safe side by side); the mixing
// callback never takes it, so closing the device (which waits for SDL's
// thread) under it cannot deadlock. m_mix is held only while the track list
// changes or one buffer is mixed.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio_track.h"

namespace qvsp {

class AudioOutput {
 public:
  // What the device is asked for. The rate and channel count may come out
  // different (the tracks then follow the device); the sample format is
  // always signed 16-bit (SDL converts when the device wants another).
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;
  // One device buffer: 21.3 ms at 48 kHz.
  static constexpr int kBufferFrames = 1024;

  AudioOutput() = default;
  ~AudioOutput() { Shutdown(); }
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Puts the track into the mix (a track already playing keeps its queue),
  // opening the device first when none is open. False when no device can be
  // opened or the track is retired.
  bool Play(const std::shared_ptr<AudioTrack>& track);
  // Takes the track out of the mix and empties its queue; once this returns
  // the callback no longer reads it. The last track out closes the device.
  void Stop(const std::shared_ptr<AudioTrack>& track);
  // Stops every track and closes the device.
  void Shutdown();

 private:
  bool OpenDevice();   // with m_device held
  void CloseDevice();  // with m_device held
  static void SDLCALL Fill(void* self, Uint8* stream, int length);
  void Mix(int16_t* out, size_t samples);

  std::mutex m_device;
  SDL_AudioDeviceID m_id = 0;

  std::mutex m_mix;  // guards the members below
  std::vector<std::shared_ptr<AudioTrack>> m_tracks;
  AudioFormat m_format;
  std::vector<int32_t> m_sum;  // the callback's mixing buffer
};

}  // namespace qvsp
