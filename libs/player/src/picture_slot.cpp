#include "picture_slot.h"

#include <utility>

namespace qvsp {

uint64_t PictureSlot::Restart() {
  FramePtr old;
  std::lock_guard<std::mutex> lock(m_mutex);
  old = std::move(m_shown);
  m_has = false;
  m_width = 0;
  m_height = 0;
  return ++m_generation;
}

void PictureSlot::Report(uint64_t generation, FramePtr picture, int32_t handle,
                         QVSP_PictureCallback callback, std::atomic<uint64_t>& reported) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (generation != m_generation) return;
    // The size is visible before the callback runs: the callback asks for it.
    m_has = true;
    m_width = picture->width;
    m_height = picture->height;
  }
  reported.fetch_add(1, std::memory_order_relaxed);
  if (callback != nullptr) {
    callback(handle, picture->data[0], picture->data[1], picture->data[2], picture->linesize[0],
             picture->linesize[1]);
  }
  FramePtr previous;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (generation != m_generation) return;  // restarted meanwhile: `picture` goes
  previous = std::move(m_shown);
  m_shown = std::move(picture);
}

bool PictureSlot::Size(int32_t& width, int32_t& height) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_has) return false;
  width = m_width;
  height = m_height;
  return true;
}

FramePtr PictureSlot::Last() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_shown) return nullptr;
  return FramePtr(av_frame_clone(m_shown.get()));
}

bool PictureSlot::HasPicture() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_has;
}

}  // namespace qvsp
