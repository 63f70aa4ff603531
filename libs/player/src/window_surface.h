// The host's window as the player draws into it: an image buffer in the
// window's pixel format, and the platform's way of putting that buffer into
// the window's client area (X11 through the player's own server connection,
// see window_surface_x11.cpp; GDI on Windows, window_surface_gdi.cpp). The
// window stays the host's: the surface never maps, moves, resizes or
// repaints it, and selects no events on it.
//
// One thread at a time (the owner serialises); every wait is bounded by the
// time budget given.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qvsp {

class WindowSurface {
 public:
  WindowSurface();
  ~WindowSurface();
  WindowSurface(const WindowSurface&) = delete;
  WindowSurface& operator=(const WindowSurface&) = delete;

  // Draws into `window` from now on: an X11 window id (XID) on the server
  // named by DISPLAY, or a Windows HWND, cast to a pointer. False, leaving
  // the surface as it was, when the window does not exist, cannot be drawn
  // into, or the display server cannot be reached.
  bool Target(void* window, int timeoutMs);
  // Gives the image buffer this size (kept while the size stays). False
  // when memory cannot be had.
  bool Resize(int width, int height, int timeoutMs);
  // The image buffer: Stride() bytes a row, laid out as PixelFormat().
  uint8_t* Data();
  int Stride() const;
  AVPixelFormat PixelFormat() const;
  // Puts the whole image at (x, y) of the window's client area and waits
  // until it is there. False when the window is gone or the display server
  // failed or did not answer in time.
  bool Put(int x, int y, int timeoutMs);
  // Frees the image buffer (the display is off).
  void DropImage();
  // Lets go of the window and of every display resource.
  void Release();

 private:
  struct State;  // the platform's
  std::unique_ptr<State> m_state;
};

}  // namespace qvsp
