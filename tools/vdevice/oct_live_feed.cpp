#include "vdevice/oct_live_feed.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "vdevice/live_label.h"
#include "vdevice/oct_media_info.h"

namespace vdevice {
namespace {

using Clock = std::chrono::steady_clock;
std::pair<uint64_t, int32_t> RefKey(octc::device::SubRef ref) {
  return {ref.session, ref.handle};
}

}  // namespace

OctLiveFeed::OctLiveFeed(VirtualDevice& device, OctOutbox& out) : device_(device), out_(out) {}

OctLiveFeed::~OctLiveFeed() {
  Stop();
}

void OctLiveFeed::Start() {
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void OctLiveFeed::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (LiveSource* source = device_.source()) source->WakeReaders();
  if (thread_.joinable()) thread_.join();
}

void OctLiveFeed::AddViewer(octc::device::SubRef ref, int32_t channel, int32_t stream) {
  std::lock_guard lock(mutex_);
  const Key key{channel, stream};
  if (!viewers_.emplace(RefKey(ref), key).second) return;
  Feed& feed = feeds_[key];
  ++feed.viewers;
  feed.key_next = true;
  cv_.notify_all();
}

void OctLiveFeed::RemoveViewer(octc::device::SubRef ref) {
  std::lock_guard lock(mutex_);
  auto it = viewers_.find(RefKey(ref));
  if (it == viewers_.end()) return;
  auto feed = feeds_.find(it->second);
  if (feed != feeds_.end() && --feed->second.viewers <= 0) feeds_.erase(feed);
  viewers_.erase(it);
}

bool OctLiveFeed::RequestKeyFrame(octc::device::SubRef ref) {
  std::lock_guard lock(mutex_);
  auto it = viewers_.find(RefKey(ref));
  if (it == viewers_.end()) return false;
  feeds_[it->second].key_next = true;
  return true;
}

uint64_t OctLiveFeed::pictures_sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

uint64_t OctLiveFeed::NextKeyFrom(uint64_t index) const {
  const auto& frames = device_.clip().frames;
  const uint64_t n = frames.size();
  for (uint64_t step = 0; step < n; ++step) {
    if (frames[(index + step) % n].key) return index + step;
  }
  return index;
}

void OctLiveFeed::Send(const Picture& p) {
  const MediaClip& clip = device_.clip();
  const size_t at = p.index % clip.frames.size();
  // Key frames carry the channel number and the clock (OCT counts channels
  // from 1).
  const std::shared_ptr<const MediaFrame> labelled =
      clip.frames[at].key ? LabelledKeyFrame(clip, at, LiveLabel(p.key.first, std::time(nullptr)))
                          : nullptr;
  const MediaFrame& frame = labelled ? *labelled : clip.frames[at];
  const uint32_t ms = OctTimestampMs(device_, p.index);
  const int reached =
      out_.PushFrame(p.key.first, p.key.second, frame.key ? OCTC_FRAME_KEY : OCTC_FRAME_P,
                     frame.data.data(), frame.data.size(), ms);
  if (reached == 0) return;
  const std::vector<uint8_t> audio = device_.AudioForFrame(p.index);
  out_.PushAudio(p.key.first, p.key.second, audio.data(), audio.size(), ms);
  CountAndFault();
}

// The fault switches count pictures across all viewers; after a fault the
// count starts again, so every later link meets the same fault.
void OctLiveFeed::CountAndFault() {
  const Faults& f = device_.spec().faults;
  uint64_t n = 0;
  {
    std::lock_guard lock(mutex_);
    ++sent_;
    n = ++since_fault_;
  }
  auto hits = [n](int limit) { return limit > 0 && n == static_cast<uint64_t>(limit); };
  const bool drop = hits(f.drop_after_frames);
  const bool close = !drop && hits(f.close_after_frames);
  const bool malformed = !drop && !close && hits(f.malformed_after_frames);
  if (!drop && !close && !malformed) return;
  {
    std::lock_guard lock(mutex_);
    since_fault_ = 0;
  }
  if (drop) out_.engine().DropLinks();
  if (close) out_.engine().CloseLinks();
  if (malformed) out_.engine().SendMalformed(octc::device::Malformed::kBadMagic);
}

void OctLiveFeed::SendSource(const LiveSource::Packet& p, uint32_t ms) {
  std::vector<Key> keys;
  {
    std::lock_guard lock(mutex_);
    for (auto& [key, feed] : feeds_) {
      if (feed.key_next && (p.audio || !p.key)) continue;
      if (!p.audio) feed.key_next = false;
      keys.push_back(key);
    }
  }
  for (const Key& k : keys) {
    if (p.audio) {
      out_.PushAudio(k.first, k.second, p.data.data(), p.data.size(), ms);
    } else if (out_.PushFrame(k.first, k.second, p.key ? OCTC_FRAME_KEY : OCTC_FRAME_P,
                              p.data.data(), p.data.size(), ms) > 0) {
      CountAndFault();
    }
  }
}

void OctLiveFeed::RunSource(LiveSource& source) {
  LiveSource::Cursor cursor;
  const auto base = std::chrono::system_clock::now();
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    bool ended = false;
    const std::vector<LiveSource::PacketPtr> packets =
        source.Next(&cursor, std::chrono::milliseconds(500), &ended);
    if (ended) {
      // Closing a stream removes its viewers (through the front end): the
      // keys are taken first.
      std::vector<Key> keys;
      lock.lock();
      for (const auto& [key, feed] : feeds_) keys.push_back(key);
      lock.unlock();
      for (const Key& k : keys) out_.engine().CloseStreams(k.first, k.second);
    }
    for (const LiveSource::PacketPtr& p : packets) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(p->at - base);
      SendSource(*p, static_cast<uint32_t>(ms.count()));
    }
    lock.lock();
  }
}

void OctLiveFeed::Run() {
  if (LiveSource* source = device_.source()) {
    RunSource(*source);
    return;
  }
  const bool paced = device_.spec().paced;
  const auto period = std::chrono::microseconds(1000000 / device_.clip().fps);
  std::vector<Picture> batch;
  std::unique_lock lock(mutex_);
  auto due = Clock::now();
  while (!stop_) {
    if (feeds_.empty()) {
      cv_.wait(lock);
      due = Clock::now();
      continue;
    }
    const auto now = Clock::now();
    if (paced && now < due) {
      cv_.wait_until(lock, due);
      continue;
    }
    due = std::max(due + period, now - period);
    batch.clear();
    for (auto& [key, feed] : feeds_) {
      if (feed.key_next) feed.index = NextKeyFrom(feed.index);
      feed.key_next = false;
      batch.push_back({key, feed.index++});
    }
    lock.unlock();
    for (const Picture& p : batch) Send(p);
    lock.lock();
  }
}

}  // namespace vdevice
