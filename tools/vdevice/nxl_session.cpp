#include "vdevice/nxl_session.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "vdevice/live_label.h"
#include "vdevice/stream_header.h"

namespace vdevice {
namespace {

constexpr uint8_t kKeyFrame = 1, kPFrame = 3, kAudioFrame = 4, kControl = 8;
constexpr uint8_t kDownloadRaw = 33, kDownloadHeader = 37, kDownloadChunks = 41;
constexpr uint8_t kDownloadDone = 34, kDownloadFailed = 35, kDownloadStopped = 36,
                  kDownloadAborted = 118;
constexpr size_t kRawBlock = 64 * 1024;

// With a whole record, frames carry an 8-byte "QVS" prefix: kind and 24-bit
// length; otherwise none.
std::vector<uint8_t> FramePrefix(const DeviceSpec& spec, uint8_t kind, size_t size) {
  if (spec.header != HeaderForm::kWhole) return {};
  return {'Q',
          'V',
          'S',
          0,
          kind,
          static_cast<uint8_t>(size),
          static_cast<uint8_t>(size >> 8),
          static_cast<uint8_t>(size >> 16)};
}

}  // namespace

NxlSession::NxlSession(VirtualDevice& device, NxlOutbox& out, qvc::device::ClientInfo info)
    : device_(device), out_(out), info_(std::move(info)), live_on_(device.spec().live) {}

NxlSession::~NxlSession() {
  Stop();
}

void NxlSession::Start() {
  // Without live frames the client still learns the stream at login.
  if (device_.spec().live) return;
  const std::vector<uint8_t> m = StreamHeaderMessage(device_.spec(), device_.clip(), 0, false);
  out_.Live(info_.id, kControl, m.data(), m.size());
}

void NxlSession::StartThreadLocked() {
  if (thread_.joinable() || stop_) return;
  finished_ = false;
  thread_ = std::thread([this] { Run(); });
}

void NxlSession::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

void NxlSession::Stop() {
  RequestStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void NxlSession::SetLive(bool on) {
  std::lock_guard lock(mutex_);
  if (on && !live_on_) live_header_ = true;
  live_on_ = on;
  cv_.notify_all();
}

bool NxlSession::Play(const std::string& path) {
  Recording r;
  if (!device_.FindRecording(info_.device_channel, path, &r)) return false;
  std::lock_guard lock(mutex_);
  play_ = r;
  play_header_ = true;
  paused_ = false;
  speed_ = 0;
  play_pos_ = 0;
  play_due_ = Clock::now();
  StartThreadLocked();
  cv_.notify_all();
  return true;
}

void NxlSession::StopPlayback() {
  std::lock_guard lock(mutex_);
  play_.reset();
}

void NxlSession::Pause(bool paused) {
  std::lock_guard lock(mutex_);
  paused_ = paused;
  if (!paused) play_due_ = Clock::now();
  cv_.notify_all();
}

void NxlSession::ChangeSpeed(int step) {
  std::lock_guard lock(mutex_);
  speed_ = step == 0 ? 0 : std::clamp(speed_ + step, -4, 4);
  cv_.notify_all();
}

void NxlSession::Seek(int32_t frame) {
  std::lock_guard lock(mutex_);
  if (!play_) return;
  // Frames count from 1; playback goes on from the key frame at or before
  // the one asked for, so that it decodes.
  const uint32_t target = static_cast<uint32_t>(
      std::clamp<int64_t>(int64_t{frame} - 1, 0, std::max<int64_t>(0, int64_t{play_->frames} - 1)));
  const MediaClip& clip = device_.RecordingClip(*play_);
  const size_t clipSize = clip.frames.size();
  const uint32_t base = target - static_cast<uint32_t>(target % clipSize);
  play_pos_ = base + static_cast<uint32_t>(clip.KeyAtOrBefore(target % clipSize));
  play_due_ = Clock::now();
  cv_.notify_all();
}

bool NxlSession::Download(const std::string& path) {
  Recording r;
  if (!device_.FindRecording(info_.device_channel, path, &r)) return false;
  std::lock_guard send(download_send_);
  EndDownloadLocked();
  std::lock_guard lock(mutex_);
  download_ = r;
  StartThreadLocked();
  cv_.notify_all();
  return true;
}

void NxlSession::CancelDownload() {
  std::lock_guard send(download_send_);
  EndDownloadLocked();
}

void NxlSession::EndDownloadLocked() {
  bool live = false;
  {
    std::lock_guard lock(mutex_);
    live = download_.has_value() || running_generation_ == download_generation_;
    download_.reset();
    ++download_generation_;
  }
  if (live) out_.Download(info_.id, kDownloadStopped, 0, nullptr, 0);
}

namespace {

void AppendLive(const VirtualDevice& device, uint8_t kind, const std::vector<uint8_t>& payload,
                std::vector<uint8_t>* out) {
  const std::vector<uint8_t> prefix = FramePrefix(device.spec(), kind, payload.size());
  qvc::device::DeviceServer::AppendLive(out, kind, prefix.data(), prefix.size(), payload.data(),
                                        payload.size());
}

}  // namespace

std::vector<uint8_t> NxlSession::EncodeLive(const VirtualDevice& device, uint64_t index,
                                            const MediaFrame* video) {
  const MediaFrame& frame =
      video != nullptr ? *video : device.clip().frames[index % device.clip().frames.size()];
  std::vector<uint8_t> out;
  AppendLive(device, frame.key ? kKeyFrame : kPFrame, frame.data, &out);
  AppendLive(device, kAudioFrame, device.AudioForFrame(index), &out);
  return out;
}

std::vector<uint8_t> NxlSession::EncodePacket(const VirtualDevice& device,
                                              const LiveSource::Packet& p) {
  std::vector<uint8_t> out;
  AppendLive(device, p.audio ? kAudioFrame : p.key ? kKeyFrame : kPFrame, p.data, &out);
  return out;
}

bool NxlSession::SendSourcePacket(const LiveSource::Packet& p,
                                  const std::vector<uint8_t>& encoded) {
  bool header = false;
  {
    std::lock_guard lock(mutex_);
    if (!live_on_ || faulted_ || stop_) return false;
    if (live_header_ && (p.audio || !p.key)) return true;  // waits for a key frame
    header = live_header_;
    live_header_ = false;
  }
  if (header) {
    const std::vector<uint8_t> m = StreamHeaderMessage(device_.spec(), device_.clip(), 0, false);
    out_.Live(info_.id, kControl, m.data(), m.size());
  }
  out_.server().SendEncoded(info_.id, encoded.data(), encoded.size());
  return true;
}

void NxlSession::EndLive() {
  {
    std::lock_guard lock(mutex_);
    if (faulted_ || stop_) return;
    faulted_ = true;
  }
  out_.server().Close(info_.id, "the camera's stream ended");
}

bool NxlSession::SendFrame(bool playback, const MediaFrame& frame,
                           const std::vector<uint8_t>& audio) {
  const uint8_t type = frame.key ? kKeyFrame : kPFrame;
  auto send = [&](uint8_t t, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> m = FramePrefix(device_.spec(), t, payload.size());
    m.insert(m.end(), payload.begin(), payload.end());
    return playback ? out_.Playback(info_.id, t, m.data(), m.size())
                    : out_.Live(info_.id, t, m.data(), m.size());
  };
  return send(type, frame.data) && (audio.empty() || send(kAudioFrame, audio));
}

// Key frames carry the channel number (Nxl counts channels from 0; the
// label from 1, as OCT does) and the clock; null for other frames.
std::shared_ptr<const MediaFrame> NxlSession::LiveKeyFrame(uint64_t index) const {
  const MediaClip& clip = device_.clip();
  const size_t at = static_cast<size_t>(index % clip.frames.size());
  if (!clip.frames[at].key) return nullptr;
  return LabelledKeyFrame(clip, at, LiveLabel(info_.device_channel + 1, std::time(nullptr)));
}

bool NxlSession::SendLiveFrame(const Encoded& encoded) {
  bool header = false;
  uint64_t index = 0;
  {
    std::lock_guard lock(mutex_);
    if (!live_on_ || faulted_ || stop_) return false;
    header = live_header_;
    if (header) {
      live_header_ = false;
      // Start at a key frame after a (re)start of the stream.
      live_index_ -= live_index_ % device_.clip().frames.size();
    }
    index = live_index_++;
  }
  const MediaClip& clip = device_.clip();
  qvc::device::DeviceServer& server = out_.server();
  if (header) {
    const std::vector<uint8_t> m = StreamHeaderMessage(device_.spec(), clip, 0, false);
    out_.Live(info_.id, kControl, m.data(), m.size());
  }
  if (device_.hostile() != nullptr) {
    SendFrame(false, clip.frames[index % clip.frames.size()], device_.AudioForFrame(index));
  } else if (const auto labelled = LiveKeyFrame(index)) {
    const std::vector<uint8_t> pair = EncodeLive(device_, index, labelled.get());
    server.SendEncoded(info_.id, pair.data(), pair.size());
  } else {
    const std::vector<uint8_t>& pair = encoded(index);
    server.SendEncoded(info_.id, pair.data(), pair.size());
  }
  const Faults& f = device_.spec().faults;
  auto hits = [](int limit, uint64_t n) { return limit > 0 && n == static_cast<uint64_t>(limit); };
  uint64_t sent = 0;
  {
    std::lock_guard lock(mutex_);
    sent = ++live_sent_;
    if (hits(f.drop_after_frames, sent) || hits(f.close_after_frames, sent) ||
        hits(f.malformed_after_frames, sent)) {
      faulted_ = true;
    }
  }
  if (hits(f.drop_after_frames, sent)) {
    server.Drop(info_.id);
  } else if (hits(f.close_after_frames, sent)) {
    server.Close(info_.id, "device closes the link");
  } else if (hits(f.malformed_after_frames, sent)) {
    server.SendMalformed(info_.id);
  }
  return true;
}

void NxlSession::SendPlaybackFrame() {
  std::optional<Recording> r;
  bool header = false;
  uint32_t pos = 0;
  {
    std::lock_guard lock(mutex_);
    if (!play_) return;
    r = play_;
    header = play_header_;
    play_header_ = false;
    pos = play_pos_++;
    if (pos >= r->frames) play_.reset();
  }
  if (header) {
    const std::vector<uint8_t> m =
        StreamHeaderMessage(device_.spec(), device_.clip(), r->frames, true);
    out_.Playback(info_.id, kControl, m.data(), m.size());
  }
  if (pos >= r->frames) {
    const uint8_t end = static_cast<uint8_t>(device_.spec().playback_end);
    out_.Playback(info_.id, end, nullptr, 0);
    return;
  }
  SendFrame(true, device_.RecordingFrame(*r, pos), device_.RecordingAudio(*r, pos));
}

void NxlSession::RunDownload(const Recording& r, uint64_t generation) {
  // Sends one message of the download unless it was stopped or replaced.
  auto send = [&](uint8_t type, uint32_t total, const uint8_t* data, size_t size, bool* ok) {
    const bool last = type == kDownloadDone || type == kDownloadFailed || type == kDownloadAborted;
    std::lock_guard sending(download_send_);
    {
      std::lock_guard lock(mutex_);
      if (stop_ || generation != download_generation_) return false;
      if (last) running_generation_ = 0;  // a stop after the end ends nothing
    }
    *ok = out_.Download(info_.id, type, total, data, size);
    return true;
  };
  bool ok = true;
  const bool abortEarly = device_.spec().faults.abort_downloads;
  if (device_.ChunkedDownloads()) {
    const auto blocks = device_.ChunkedRecording(r, kRawBlock);
    uint32_t total = 0;
    for (const auto& b : blocks) total += static_cast<uint32_t>(b.size());
    for (size_t i = 0; i < blocks.size() && ok; ++i) {
      if (!send(i == 0 ? kDownloadHeader : kDownloadChunks, total, blocks[i].data(),
                blocks[i].size(), &ok)) {
        return;
      }
      if (abortEarly) break;
    }
  } else {
    const std::vector<uint8_t> file = device_.RawRecordingFile(r);
    const auto total = static_cast<uint32_t>(file.size());
    for (size_t at = 0; at < file.size() && ok; at += kRawBlock) {
      if (!send(kDownloadRaw, total, file.data() + at, std::min(kRawBlock, file.size() - at),
                &ok)) {
        return;
      }
      if (abortEarly) break;
    }
  }
  const uint8_t end = !ok ? kDownloadFailed : abortEarly ? kDownloadAborted : kDownloadDone;
  bool sent = true;
  send(end, 0, nullptr, 0, &sent);
}

void NxlSession::Run() {
  const bool paced = device_.spec().paced;
  const auto period = std::chrono::microseconds(1000000 / device_.clip().fps);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (download_) {
      Recording r = *download_;
      download_.reset();
      const uint64_t generation = running_generation_ = download_generation_;
      lock.unlock();
      RunDownload(r, generation);
      lock.lock();
      if (running_generation_ == generation) running_generation_ = 0;
      continue;
    }
    const auto now = Clock::now();
    const bool playActive = play_.has_value() && !paused_;
    if (playActive && (!paced || now >= play_due_)) {
      const auto scaled = speed_ >= 0 ? period / (1 << speed_) : period * (1 << -speed_);
      play_due_ = std::max(play_due_ + scaled, now - scaled);
      lock.unlock();
      SendPlaybackFrame();
      lock.lock();
      continue;
    }
    auto until = now + std::chrono::seconds(1);
    if (playActive) until = std::min(until, play_due_);
    cv_.wait_until(lock, until);
  }
  finished_ = true;
}

}  // namespace vdevice
