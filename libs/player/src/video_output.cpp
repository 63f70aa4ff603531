#include "video_output.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

namespace qvsp {
namespace {

bool ValidRect(const QVSP_Rect& r) {
  constexpr int32_t kLow = std::numeric_limits<int16_t>::min();
  constexpr int32_t kHigh = std::numeric_limits<int16_t>::max();
  if (r.left < kLow || r.top < kLow || r.right > kHigh || r.bottom > kHigh) return false;
  const int64_t width = static_cast<int64_t>(r.right) - r.left;
  const int64_t height = static_cast<int64_t>(r.bottom) - r.top;
  return width > 0 && height > 0 && width <= VideoOutput::kMaxSide &&
         height <= VideoOutput::kMaxSide;
}

}  // namespace

VideoOutput::~VideoOutput() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_surface.Release();
}

bool VideoOutput::Set(void* window, const QVSP_Rect* rect, bool on) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_on = false;
  m_failed = false;
  if (!on) {
    m_surface.DropImage();
    return true;
  }
  if (window == nullptr || rect == nullptr || !ValidRect(*rect)) return false;
  if (!m_surface.Target(window, kServerBudgetMs)) return false;
  m_rect = *rect;
  m_on = true;
  return true;
}

VideoOutput::State VideoOutput::Current() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_on ? State::kOn : m_failed ? State::kFailed : State::kOff;
}

VideoOutput::Shown VideoOutput::Show(const AVFrame& picture) {
  const auto start = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_on) return Shown::kOff;
  if (!Draw(picture)) {
    Fail();
    return Shown::kFailed;
  }
  m_drawn.fetch_add(1, std::memory_order_relaxed);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  NoteDrawTime(static_cast<uint32_t>(std::min<int64_t>(took.count(), UINT32_MAX)));
  return Shown::kDrawn;
}

bool VideoOutput::Draw(const AVFrame& picture) {
  if (picture.width <= 0 || picture.height <= 0) return true;  // nothing to show
  const int width = m_rect.right - m_rect.left;
  const int height = m_rect.bottom - m_rect.top;
  if (!m_surface.Resize(width, height, kServerBudgetMs)) return false;
  m_scaler.reset(sws_getCachedContext(
      m_scaler.release(), picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
      width, height, m_surface.PixelFormat(), SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!m_scaler) return false;
  uint8_t* planes[4] = {m_surface.Data(), nullptr, nullptr, nullptr};
  int strides[4] = {m_surface.Stride(), 0, 0, 0};
  if (sws_scale(m_scaler.get(), picture.data, picture.linesize, 0, picture.height, planes,
                strides) <= 0) {
    return false;
  }
  return m_surface.Put(m_rect.left, m_rect.top, kServerBudgetMs);
}

void VideoOutput::Fail() {
  m_failures.fetch_add(1, std::memory_order_relaxed);
  m_on = false;
  m_failed = true;
  m_surface.Release();
}

void VideoOutput::NoteDrawTime(uint32_t micros) {
  std::lock_guard<std::mutex> lock(m_timesMutex);
  if (m_times.empty()) m_times.resize(kDrawTimes);
  m_times[m_timesNext] = micros;
  m_timesNext = (m_timesNext + 1) % kDrawTimes;
  m_timesCount = std::min(m_timesCount + 1, kDrawTimes);
}

size_t VideoOutput::DrawTimes(uint32_t* out, size_t capacity) const {
  std::lock_guard<std::mutex> lock(m_timesMutex);
  const size_t n = std::min(capacity, m_timesCount);
  // The latest n, oldest first.
  size_t index = (m_timesNext + kDrawTimes - n) % kDrawTimes;
  for (size_t i = 0; i < n; ++i) {
    out[i] = m_times[index];
    index = (index + 1) % kDrawTimes;
  }
  return n;
}

}  // namespace qvsp
