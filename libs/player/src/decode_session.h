// One open decoder stream of a player: its frame queue, its decoders and
// the decoding thread that runs them, from OpenStream to CloseStream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio_decoder.h"
#include "audio_resampler.h"
#include "audio_track.h"
#include "frame_classifier.h"
#include "frame_queue.h"
#include "picture_slot.h"
#include "stream_counters.h"
#include "stream_description.h"
#include "video_decoder.h"
#include "video_output.h"

namespace qvsp {

class DecodeSession {
 public:
  static constexpr const char* kThreadName = "qvsp-decode";

  struct Setup {
    int32_t handle = -1;
    StreamDescription stream;
    QueueLimits limits;
    std::shared_ptr<PictureSlot> slot;
    std::shared_ptr<VideoOutput> display;
    std::shared_ptr<StreamCounters> counters;
    uint64_t generation = 0;
    const std::atomic<QVSP_PictureCallback>* callback = nullptr;
    std::shared_ptr<AudioTrack> sound;  // the player's sound queue
  };

  // Opens the decoders on the calling thread, then starts the decoding
  // thread. Empty when the video decoder cannot be opened; audio the player
  // cannot decode is reported once and left out.
  static std::shared_ptr<DecodeSession> Start(Setup setup);

  DecodeSession(Setup setup, std::unique_ptr<VideoDecoder> video,
                std::unique_ptr<AudioDecoder> audio);
  ~DecodeSession();
  DecodeSession(const DecodeSession&) = delete;
  DecodeSession& operator=(const DecodeSession&) = delete;

  // Copies one frame into the queue; true when it was queued.
  bool Write(const uint8_t* data, int32_t length);
  void SetLimits(QueueLimits limits) { m_queue.SetLimits(limits); }
  void Depth(size_t& frames, size_t& bytes) const { m_queue.Depth(frames, bytes); }

  // Asks the thread to end: queued frames are discarded and no further
  // picture is reported once a running callback has returned.
  void Stop();
  bool OnOwnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
  bool Finished() const { return m_finished.load(std::memory_order_acquire); }
  // Waits for the thread; must not be called on it.
  void Join();

 private:
  void Run();

  Setup m_setup;
  FrameClassifier m_classifier;
  std::unique_ptr<VideoDecoder> m_video;
  std::unique_ptr<AudioDecoder> m_audio;
  AudioResampler m_resampler;  // used on the decoding thread only
  FrameQueue m_queue;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_finished{false};
  std::thread m_thread;  // last: starts once everything above exists
};

}  // namespace qvsp
