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
  ReleaseServer();
}

bool VideoOutput::Set(void* window, const QVSP_Rect* rect, bool on) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_on = false;
  m_failed = false;
  if (!on) {
    m_image.reset();  // its shared memory is not needed while off
    return true;
  }
  const auto id = static_cast<xcb_window_t>(reinterpret_cast<uintptr_t>(window));
  if (id == 0 || rect == nullptr || !ValidRect(*rect)) return false;
  SigpipeGuard guard;
  if (m_link && m_link->Broken()) ReleaseServer();
  if (!m_link) {
    m_link = X11Link::Open();
    if (!m_link) return false;
  }
  if (id != m_window || m_gc == 0) {
    const std::optional<WindowFormat> format = m_link->DescribeWindow(id, kServerBudgetMs);
    if (!format) {
      if (m_link->Broken()) ReleaseServer();
      return false;
    }
    m_image.reset();
    if (m_gc != 0) xcb_free_gc(m_link->get(), m_gc);
    m_gc = xcb_generate_id(m_link->get());
    xcb_create_gc(m_link->get(), m_gc, id, 0, nullptr);
    m_window = id;
    m_format = *format;
  }
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
  if (!m_image || m_image->Width() != width || m_image->Height() != height) {
    m_image.reset();
    m_image = WindowImage::Create(*m_link, m_format, width, height, kServerBudgetMs);
    if (!m_image) return false;
  }
  m_scaler.reset(sws_getCachedContext(
      m_scaler.release(), picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
      width, height, m_format.pixelFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!m_scaler) return false;
  uint8_t* planes[4] = {m_image->Data(), nullptr, nullptr, nullptr};
  int strides[4] = {m_image->Stride(), 0, 0, 0};
  if (sws_scale(m_scaler.get(), picture.data, picture.linesize, 0, picture.height, planes,
                strides) <= 0) {
    return false;
  }
  m_image->Put(m_window, m_gc, m_rect.left, m_rect.top);
  return m_link->Sync(kServerBudgetMs);
}

void VideoOutput::Fail() {
  m_failures.fetch_add(1, std::memory_order_relaxed);
  m_on = false;
  m_failed = true;
  ReleaseServer();
}

void VideoOutput::ReleaseServer() {
  m_image.reset();
  if (m_link && m_gc != 0 && !m_link->Broken()) {
    SigpipeGuard guard;
    xcb_free_gc(m_link->get(), m_gc);
  }
  m_gc = 0;
  m_window = 0;
  m_link.reset();
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
