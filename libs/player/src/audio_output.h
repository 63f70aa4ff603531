// The library's one sound output: a single audio device, opened when the
// first player starts playing and closed when the last one stops, whose
// feeding thread mixes the queues of every playing player (summed, clamped
// to 16 bits) into each buffer it hands the device.
//
// The device is the platform's (AudioOutput::Device): SDL's audio subsystem
// on Linux (audio_output_sdl.cpp), waveOut on Windows
// (audio_output_winmm.cpp). Neither changes the host's process-wide state:
// SDL's subsystem is initialised only while the device is open, with its
// signal handlers turned off.
//
// Threads: host threads start and stop tracks, decoding threads fill them,
// and the device's thread mixes them. m_device serialises opening and
// closing the device; the mixing never takes it, so closing the device
// (which waits for the device's thread) under it cannot deadlock. m_mix is
// held only while the track list changes or one buffer is mixed.
#pragma once

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
  // always signed 16-bit (the device's side converts when it wants another).
  static constexpr int kRate = 48000;
  static constexpr int kChannels = 2;
  // What the device holds ahead of the mix: 1024 frames, 21.3 ms at 48 kHz.
  static constexpr int kBufferFrames = 1024;

  AudioOutput();
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  // Puts the track into the mix (a track already playing keeps its queue),
  // opening the device first when none is open. False when no device can be
  // opened or the track is retired.
  bool Play(const std::shared_ptr<AudioTrack>& track);
  // Takes the track out of the mix and empties its queue; once this returns
  // the device's thread no longer reads it. The last track out closes the
  // device.
  void Stop(const std::shared_ptr<AudioTrack>& track);
  // Stops every track and closes the device.
  void Shutdown();

 private:
  // The platform's open device.
  struct Device;
  struct DeviceDeleter {
    void operator()(Device* device) const;  // closes it, waiting for its thread
  };

  // Opens the device with m_device held; it starts mixing through Mix once
  // Begin has set the format.
  std::unique_ptr<Device, DeviceDeleter> OpenDevice();
  void CloseDevice();  // with m_device held
  // The format the device plays and its buffer size in frames.
  void Begin(const AudioFormat& format, size_t bufferFrames);
  // Fills `samples` interleaved samples with the mix (silence when no track
  // plays); called on the device's thread.
  void Mix(int16_t* out, size_t samples);

  std::mutex m_device;
  std::unique_ptr<Device, DeviceDeleter> m_open;

  std::mutex m_mix;  // guards the members below
  std::vector<std::shared_ptr<AudioTrack>> m_tracks;
  AudioFormat m_format;
  std::vector<int32_t> m_sum;  // the mixing buffer
};

}  // namespace qvsp
