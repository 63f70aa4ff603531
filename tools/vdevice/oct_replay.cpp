#include "vdevice/oct_replay.h"

#include <algorithm>
#include <vector>

#include "vdevice/oct_media_info.h"

namespace vdevice {

OctReplay::OctReplay(VirtualDevice& device, OctOutbox& out, octc::device::SubRef ref,
                     Recording recording)
    : device_(device), out_(out), ref_(ref), recording_(std::move(recording)) {}

OctReplay::~OctReplay() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

void OctReplay::Start() {
  thread_ = std::thread([this] { Run(); });
}

void OctReplay::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

int32_t OctReplay::SetSpeed(int32_t speed) {
  if (speed < -16 || speed > 16) return OCTC_ERR_FAILED;
  std::lock_guard lock(mutex_);
  speed_ = speed == -1 ? 1 : speed;
  due_ = Clock::now();
  cv_.notify_all();
  return 0;
}

int32_t OctReplay::Skip(int32_t position_ms) {
  if (position_ms < 0) return OCTC_ERR_FAILED;
  const MediaClip& clip = device_.RecordingClip(recording_);
  const uint64_t last = recording_.frames > 0 ? recording_.frames - 1 : 0;
  const uint64_t target =
      std::min<uint64_t>(uint64_t(position_ms) * static_cast<uint64_t>(clip.fps) / 1000, last);
  const uint64_t n = clip.frames.size();
  // Recordings loop the clip: the key frame at or before the target is in
  // the same pass of the clip.
  const uint64_t key = target - target % n + clip.KeyAtOrBefore(static_cast<size_t>(target % n));
  std::lock_guard lock(mutex_);
  pos_ = static_cast<uint32_t>(key);
  at_end_ = false;
  due_ = Clock::now();
  cv_.notify_all();
  return 0;
}

bool OctReplay::SendPicture(uint32_t pos) {
  const MediaFrame& frame = device_.RecordingFrame(recording_, pos);
  const uint32_t ms = OctTimestampMs(device_, pos);
  if (!out_.PlaybackFrame(ref_, frame.key ? OCTC_FRAME_KEY : OCTC_FRAME_P, frame.data.data(),
                          frame.data.size(), ms)) {
    return false;
  }
  const std::vector<uint8_t> audio = device_.RecordingAudio(recording_, pos);
  return audio.empty() || out_.PlaybackAudio(ref_, audio.data(), audio.size(), ms);
}

// The end kinds: '2' reached the end (the handle stays open and a skip
// plays on), '9' failed, 'w' closed by the device.
bool OctReplay::SendEnd() {
  switch (device_.spec().playback_end) {
    case '9': out_.EndPlayback(ref_, OCTC_STATE_RESULT, 1); return true;
    case 'w': out_.EndPlayback(ref_, OCTC_STATE_CLOSED, 0); return true;
    default: out_.EndPlayback(ref_, OCTC_STATE_RESULT, 0); return false;
  }
}

void OctReplay::Run() {
  const MediaClip& clip = device_.clip();
  const auto period = std::chrono::microseconds(1000000 / clip.fps);
  const auto durationMs =
      static_cast<int32_t>(uint64_t{recording_.frames} * 1000 / static_cast<uint64_t>(clip.fps));
  bool alive = out_.PlaybackMediaInfo(ref_, OctMediaInfoOf(device_, durationMs));
  const bool paced = device_.spec().paced;
  std::unique_lock lock(mutex_);
  due_ = Clock::now();
  while (!stop_ && alive) {
    const auto now = Clock::now();
    if (at_end_ || speed_ == 0) {
      cv_.wait(lock);
      continue;
    }
    if (paced && now < due_) {
      cv_.wait_until(lock, due_);
      continue;
    }
    const auto step = speed_ > 0 ? period / speed_ : period * -speed_;
    due_ = std::max(due_ + step, now - step);
    const uint32_t pos = pos_;
    if (pos >= recording_.frames) {
      at_end_ = true;
      lock.unlock();
      const bool over = SendEnd();
      lock.lock();
      if (over) break;
      continue;
    }
    ++pos_;
    lock.unlock();
    alive = SendPicture(pos);
    lock.lock();
  }
  finished_ = true;
}

}  // namespace vdevice
