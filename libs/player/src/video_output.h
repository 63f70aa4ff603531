// Video display of one player: the host's window and rectangle, and the
// drawing of each decoded picture scaled into that rectangle.
//
// Pictures are drawn on the thread that decodes them (or, for a refresh, on
// the host's thread), one at a time. A draw ends only when the picture is in
// the window (the X server has taken it in, or GDI has drawn it), so the
// image buffer is never rewritten while it is read; every wait on the
// display server is bounded by kServerBudgetMs. When drawing fails (the host
// destroyed its window, the X server went away or stopped answering) the
// output stops drawing and lets go of the window and the server;
// decoding and the decoded-picture function are not affected. The host
// switches the preview on again to start over.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "av_handles.h"
#include "qvsp/qvsp.h"
#include "window_surface.h"

namespace qvsp {

class VideoOutput {
 public:
  static constexpr int kServerBudgetMs = 1000;
  // Largest rectangle side drawn, in pixels.
  static constexpr int kMaxSide = 8192;
  // How many of the latest draw times are kept.
  static constexpr size_t kDrawTimes = 4096;

  VideoOutput() = default;
  ~VideoOutput();
  VideoOutput(const VideoOutput&) = delete;
  VideoOutput& operator=(const VideoOutput&) = delete;

  // Switches display into `rect` of `window` (an X11 window id, or an HWND
  // on Windows) on or off. Switching on fails, leaving the display off, when
  // the window cannot be drawn into (see WindowSurface::Target) or the
  // rectangle is empty or beyond the 16-bit coordinate range. Switching off
  // always succeeds, and no picture is drawn after it returns.
  bool Set(void* window, const QVSP_Rect* rect, bool on);
  enum class State { kOff, kOn, kFailed };
  // kFailed from a failed draw until the next Set.
  State Current() const;

  enum class Shown { kOff, kDrawn, kFailed };
  // Draws a YUV 4:2:0 picture when the display is on. A failure switches
  // the display off.
  Shown Show(const AVFrame& picture);

  uint64_t Drawn() const { return m_drawn.load(std::memory_order_relaxed); }
  uint64_t Failures() const { return m_failures.load(std::memory_order_relaxed); }
  // The latest draw times in microseconds (from the picture's hand-over to
  // the server's acknowledgement), oldest first, at most `capacity`.
  size_t DrawTimes(uint32_t* out, size_t capacity) const;

 private:
  bool Draw(const AVFrame& picture);
  void Fail();
  void NoteDrawTime(uint32_t micros);

  mutable std::mutex m_mutex;  // held while drawing: one draw at a time
  bool m_on = false;
  bool m_failed = false;
  QVSP_Rect m_rect{};
  WindowSurface m_surface;
  SwsPtr m_scaler;

  std::atomic<uint64_t> m_drawn{0};
  std::atomic<uint64_t> m_failures{0};
  mutable std::mutex m_timesMutex;
  std::vector<uint32_t> m_times;  // ring of kDrawTimes, filled on first use
  size_t m_timesNext = 0;
  size_t m_timesCount = 0;
};

}  // namespace qvsp
