#include "frame_queue.h"

#include <utility>

namespace qvsp {

void FrameQueue::SetLimits(QueueLimits limits) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_limits = limits;
}

QueueLimits FrameQueue::Limits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_limits;
}

bool FrameQueue::Fits(size_t size) const {
  return m_frames.size() + 1 <= m_limits.maxFrames && m_bytes + size <= m_limits.maxBytes;
}

void FrameQueue::CountDrop(const QueuedFrame& frame) {
  StreamCounters::Add(frame.type.kind == FrameKind::kVideo ? m_counters.videoDropped
                                                           : m_counters.audioDropped);
  StreamCounters::Add(m_counters.bytesDropped, static_cast<uint64_t>(frame.packet->size));
}

bool FrameQueue::DropFront(size_t n) {
  bool video = false;
  for (size_t i = 0; i < n && !m_frames.empty(); ++i) {
    const QueuedFrame& front = m_frames.front();
    video = video || front.type.kind == FrameKind::kVideo;
    CountDrop(front);
    m_bytes -= static_cast<size_t>(front.packet->size);
    m_frames.pop_front();
  }
  return video;
}

FrameQueue::Push FrameQueue::Add(QueuedFrame frame) {
  const size_t size = static_cast<size_t>(frame.packet->size);
  const bool video = frame.type.kind == FrameKind::kVideo;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_stopped) return Push::kStopped;
  if (size > m_limits.maxBytes) {
    StreamCounters::Add(m_counters.refused);
    return Push::kRefused;
  }
  if (video && m_awaitFirstKey) {
    if (!frame.type.key) return Push::kDropped;
    m_awaitFirstKey = false;
  }
  if (video && m_skipToKey) {
    if (!frame.type.key) {
      CountDrop(frame);
      return Push::kDropped;
    }
    m_skipToKey = false;
  }
  if (!Fits(size)) {
    StreamCounters::Add(m_counters.overflows);
    if (video && frame.type.key) {
      DropFront(m_frames.size());
    } else {
      size_t lastKey = 0;
      for (size_t i = 0; i < m_frames.size(); ++i) {
        if (m_frames[i].type.kind == FrameKind::kVideo && m_frames[i].type.key) lastKey = i;
      }
      DropFront(lastKey);
      if (!Fits(size)) {
        m_skipToKey = DropFront(m_frames.size());
        if (video && m_skipToKey) {
          CountDrop(frame);
          return Push::kDropped;
        }
      }
    }
  }
  StreamCounters::Add(video ? m_counters.videoQueued : m_counters.audioQueued);
  m_bytes += size;
  m_frames.push_back(std::move(frame));
  m_ready.notify_one();
  return Push::kQueued;
}

std::optional<QueuedFrame> FrameQueue::Take() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_ready.wait(lock, [this] { return m_stopped || !m_frames.empty(); });
  if (m_stopped) return std::nullopt;
  QueuedFrame frame = std::move(m_frames.front());
  m_frames.pop_front();
  m_bytes -= static_cast<size_t>(frame.packet->size);
  return frame;
}

void FrameQueue::Stop() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_stopped = true;
  m_frames.clear();
  m_bytes = 0;
  m_ready.notify_all();
}

void FrameQueue::Depth(size_t& frames, size_t& bytes) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  frames = m_frames.size();
  bytes = m_bytes;
}

}  // namespace qvsp
