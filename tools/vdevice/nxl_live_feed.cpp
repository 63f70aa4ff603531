#include "vdevice/nxl_live_feed.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "vdevice/nxl_session.h"

namespace vdevice {

NxlLiveFeed::~NxlLiveFeed() {
  Stop();
}

void NxlLiveFeed::Start() {
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Run(); });
}

void NxlLiveFeed::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (LiveSource* source = device_.source()) source->WakeReaders();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  sessions_.clear();
}

void NxlLiveFeed::Add(qvc::device::ClientId id, std::shared_ptr<NxlSession> session) {
  std::lock_guard lock(mutex_);
  sessions_[id] = std::move(session);
  woken_ = true;
  cv_.notify_all();
}

void NxlLiveFeed::Remove(qvc::device::ClientId id) {
  std::lock_guard lock(mutex_);
  sessions_.erase(id);
}

void NxlLiveFeed::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  cv_.notify_all();
}

// The bytes repeat with the clip's frame and the phase of the audio tone
// (eight samples long), so there are at most eight entries per clip frame.
const std::vector<uint8_t>& NxlLiveFeed::Encoded(uint64_t index) {
  const size_t frames = device_.clip().frames.size();
  const uint64_t phase = index * device_.AudioBytesPerFrame() % 8;
  const size_t slot = static_cast<size_t>(index % frames * 8 + phase);
  if (encoded_.size() != frames * 8) encoded_.assign(frames * 8, {});
  if (encoded_[slot].empty()) encoded_[slot] = NxlSession::EncodeLive(device_, index);
  return encoded_[slot];
}

void NxlLiveFeed::RunSource(LiveSource& source) {
  LiveSource::Cursor cursor;
  std::vector<std::shared_ptr<NxlSession>> batch;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    bool ended = false;
    const std::vector<LiveSource::PacketPtr> packets =
        source.Next(&cursor, std::chrono::milliseconds(500), &ended);
    lock.lock();
    batch.clear();
    for (const auto& [id, session] : sessions_) batch.push_back(session);
    lock.unlock();
    if (ended) {
      for (const auto& session : batch) session->EndLive();
    }
    for (const LiveSource::PacketPtr& p : packets) {
      const std::vector<uint8_t> encoded = NxlSession::EncodePacket(device_, *p);
      for (const auto& session : batch) session->SendSourcePacket(*p, encoded);
    }
    lock.lock();
  }
}

// Ticks run from the first client on; a tick that comes late moves the
// next ones rather than sending a burst to catch up. A round that finds
// every live stream off waits until one is switched on.
void NxlLiveFeed::Run() {
  if (LiveSource* source = device_.source()) return RunSource(*source);
  using Clock = std::chrono::steady_clock;
  const bool paced = device_.spec().paced;
  const auto period = std::chrono::microseconds(1000000 / device_.clip().fps);
  std::vector<std::shared_ptr<NxlSession>> batch;
  std::unique_lock lock(mutex_);
  auto due = Clock::now();
  while (!stop_) {
    if (!woken_ && (sessions_.empty() || (paced && Clock::now() < due))) {
      if (sessions_.empty()) {
        cv_.wait(lock);
        due = Clock::now();
      } else {
        cv_.wait_until(lock, due);
      }
      continue;
    }
    woken_ = false;
    const auto now = Clock::now();
    if (paced && now < due) continue;  // woken early: wait for the tick
    due = std::max(due + period, now - period);
    batch.clear();
    for (const auto& [id, session] : sessions_) batch.push_back(session);
    lock.unlock();
    bool sent = false;
    const NxlSession::Encoded encoded = [this](uint64_t index) -> const std::vector<uint8_t>& {
      return Encoded(index);
    };
    // Spread: client k of n gets its frame k/n of a period into the tick,
    // as cameras running on clocks of their own would send.
    const bool spread = paced && device_.spec().spread;
    for (size_t k = 0; k < batch.size(); ++k) {
      if (spread) std::this_thread::sleep_until(now + period * k / batch.size());
      sent = batch[k]->SendLiveFrame(encoded) || sent;
    }
    lock.lock();
    if (!sent && !woken_) {
      cv_.wait(lock, [this] { return stop_ || woken_; });
      due = Clock::now();
    }
  }
}

}  // namespace vdevice
