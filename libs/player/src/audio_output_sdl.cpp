// The SDL device: SDL's audio subsystem, initialised while the device is
// open, and its callback mixing one device buffer at a time.
#include <SDL.h>

#include "audio_output.h"

namespace qvsp {

struct AudioOutput::Device {
  // Made once the subsystem is initialised; quits it on the way out.
  Device() = default;
  ~Device() {
    if (id != 0) SDL_CloseAudioDevice(id);  // waits for SDL's audio thread
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  SDL_AudioDeviceID id = 0;

  static void SDLCALL Fill(void* output, Uint8* stream, int length) {
    static_cast<AudioOutput*>(output)->Mix(reinterpret_cast<int16_t*>(stream),
                                           static_cast<size_t>(length) / sizeof(int16_t));
  }
};

std::unique_ptr<AudioOutput::Device, AudioOutput::DeviceDeleter> AudioOutput::OpenDevice() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return nullptr;
  SDL_AudioSpec wanted{};
  wanted.freq = kRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = kChannels;
  wanted.samples = kBufferFrames;
  wanted.callback = &Device::Fill;
  wanted.userdata = this;
  SDL_AudioSpec obtained{};
  std::unique_ptr<Device, DeviceDeleter> device(std::make_unique<Device>().release());
  device->id =
      SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                          SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (device->id == 0) return nullptr;  // the device quits the subsystem
  // The device starts paused: the callback runs only after the unpause.
  Begin(AudioFormat{obtained.freq, obtained.channels}, obtained.samples);
  SDL_PauseAudioDevice(device->id, 0);
  return device;
}

void AudioOutput::DeviceDeleter::operator()(Device* device) const {
  std::default_delete<Device>()(device);
}

}  // namespace qvsp
