// One player: at most one open decoder stream, the pictures it reported and
// the display and sound settings the host gave.
//
// No lock of the player is held while a stream's thread is waited for or
// while the decoded-picture callback runs, so the callback may call any
// function of the library, for its own player too.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio_output.h"
#include "decode_session.h"
#include "picture_slot.h"
#include "qvsp/qvsp.h"
#include "qvsp/qvsp_ext.h"
#include "thread_reaper.h"
#include "video_output.h"

namespace qvsp {

class Player {
 public:
  Player(int32_t handle, ThreadReaper& reaper, const std::atomic<QVSP_PictureCallback>& callback,
         AudioOutput& output);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Closes any open stream, then opens one described by the record.
  bool OpenStream(const uint8_t* info, int32_t length);
  void CloseStream();
  bool Write(const uint8_t* data, int32_t length);
  // Closes the stream for good; later opens fail. True for the first call.
  bool Shutdown();

  bool SetVideoPreview(void* window, const QVSP_Rect* rect, int32_t on);
  // On: the player's decoded audio joins the sound output; false when no
  // audio device can be opened. Off: it leaves the mix before this returns.
  bool SetAudioPreview(void* window, int32_t on);
  // Draws the last picture again when the display is on. 1 when there is a
  // picture and it was drawn, or the display is off; 0 without a picture or
  // when drawing failed.
  int32_t Refresh();
  size_t DrawTimes(uint32_t* out, size_t capacity) const {
    return m_display->DrawTimes(out, capacity);
  }
  bool BitmapSize(int32_t& width, int32_t& height) const { return m_slot->Size(width, height); }
  void Statistics(QVSP_Statistics& out) const;
  void SetQueueLimits(QueueLimits limits);

 private:
  const int32_t m_handle;
  ThreadReaper& m_reaper;
  const std::atomic<QVSP_PictureCallback>& m_callback;
  const std::shared_ptr<PictureSlot> m_slot = std::make_shared<PictureSlot>();
  const std::shared_ptr<VideoOutput> m_display = std::make_shared<VideoOutput>();
  AudioOutput& m_output;
  const std::shared_ptr<AudioTrack> m_sound = std::make_shared<AudioTrack>();

  mutable std::mutex m_mutex;  // guards the members below; held only briefly
  std::shared_ptr<DecodeSession> m_session;
  std::shared_ptr<StreamCounters> m_counters = std::make_shared<StreamCounters>();
  QueueLimits m_limits;
  bool m_shutdown = false;
  void* m_audioWindow = nullptr;
  bool m_audioOn = false;
};

}  // namespace qvsp
