// The waveOut device (through the wave mapper, which converts to what the
// hardware takes): kBlocks blocks that together hold kBufferFrames frames,
// kept queued by a thread of the player's that mixes each block again as
// the device hands it back. The device signals an event for every block it
// has finished; the thread's waits are bounded, so closing never hangs on a
// device that stopped answering.
#include <windows.h>
// (windows.h first: mmsystem.h needs its types.)
#include <mmsystem.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "audio_output.h"
#include "thread_name.h"

namespace qvsp {

struct AudioOutput::Device {
  static constexpr int kBlocks = 4;
  static constexpr int kBlockFrames = kBufferFrames / kBlocks;
  static constexpr DWORD kWaitMs = 100;

  Device() = default;
  ~Device() {
    m_stop.store(true, std::memory_order_release);
    if (m_done != nullptr) SetEvent(m_done);
    if (m_feeder.joinable()) m_feeder.join();
    if (m_wave != nullptr) {
      waveOutReset(m_wave);  // hands every queued block back
      for (WAVEHDR& header : m_headers) {
        if ((header.dwFlags & WHDR_PREPARED) != 0) {
          waveOutUnprepareHeader(m_wave, &header, sizeof header);
        }
      }
      waveOutClose(m_wave);
    }
    if (m_done != nullptr) CloseHandle(m_done);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool Open(AudioOutput& output) {
    m_done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_done == nullptr) return false;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(kChannels * sizeof(int16_t));
    format.nAvgBytesPerSec = kRate * format.nBlockAlign;
    if (waveOutOpen(&m_wave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(m_done), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
      m_wave = nullptr;
      return false;
    }
    const size_t blockSamples = static_cast<size_t>(kBlockFrames) * kChannels;
    m_samples.assign(blockSamples * kBlocks, 0);
    for (int i = 0; i < kBlocks; ++i) {
      WAVEHDR& header = m_headers[i];
      header.lpData = reinterpret_cast<LPSTR>(m_samples.data() + blockSamples * i);
      header.dwBufferLength = static_cast<DWORD>(blockSamples * sizeof(int16_t));
      if (waveOutPrepareHeader(m_wave, &header, sizeof header) != MMSYSERR_NOERROR) return false;
    }
    output.Begin(AudioFormat{kRate, kChannels}, kBlockFrames);
    m_feeder = std::thread([this, &output] { Feed(output); });
    NameThread(m_feeder, "qvsp-sound");
    return true;
  }

 private:
  // Mixes and queues every block the device does not hold, then waits for
  // one to come back.
  void Feed(AudioOutput& output) {
    while (!m_stop.load(std::memory_order_acquire)) {
      for (WAVEHDR& header : m_headers) {
        if ((header.dwFlags & WHDR_INQUEUE) != 0) continue;
        output.Mix(reinterpret_cast<int16_t*>(header.lpData),
                   header.dwBufferLength / sizeof(int16_t));
        // A device that fails the write is tried again after the wait.
        waveOutWrite(m_wave, &header, sizeof header);
      }
      WaitForSingleObject(m_done, kWaitMs);
    }
  }

  HWAVEOUT m_wave = nullptr;
  HANDLE m_done = nullptr;  // auto-reset; the device signals it per finished block
  std::array<WAVEHDR, kBlocks> m_headers{};
  std::vector<int16_t> m_samples;
  std::atomic<bool> m_stop{false};
  std::thread m_feeder;
};

std::unique_ptr<AudioOutput::Device, AudioOutput::DeviceDeleter> AudioOutput::OpenDevice() {
  std::unique_ptr<Device, DeviceDeleter> device(std::make_unique<Device>().release());
  if (!device->Open(*this)) return nullptr;
  return device;
}

void AudioOutput::DeviceDeleter::operator()(Device* device) const {
  std::default_delete<Device>()(device);
}

}  // namespace qvsp
