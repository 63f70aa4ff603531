// A picture buffer laid out as a window's pixels, and the requests that put
// it into the window. It lives in shared memory attached to the X server
// when the server offers MIT-SHM and attaching works (a local server), so
// that putting it copies nothing through the socket; otherwise in ordinary
// memory, sent in as many put-image requests as the server's request size
// needs.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "x11_link.h"

namespace qvsp {

class X11Image {
 public:
  // Empty when the size is not positive or memory cannot be had.
  static std::unique_ptr<X11Image> Create(X11Link& link, const WindowFormat& format, int width,
                                          int height, int timeoutMs);
  X11Image(X11Link& link, const WindowFormat& format, int width, int height, int stride);
  ~X11Image();
  X11Image(const X11Image&) = delete;
  X11Image& operator=(const X11Image&) = delete;

  uint8_t* Data() { return m_data; }
  int Stride() const { return m_stride; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  bool Shared() const { return m_segment != 0; }

  // Sends the requests that put the whole image at (x, y) of the drawable.
  // The server reads the buffer until it has handled them: the caller syncs
  // before writing the buffer again.
  void Put(xcb_drawable_t drawable, xcb_gcontext_t gc, int x, int y);

 private:
  bool AttachShared(int timeoutMs);

  X11Link& m_link;
  const WindowFormat m_format;
  const int m_width;
  const int m_height;
  const int m_stride;
  std::vector<uint8_t> m_heap;
  void* m_shared = nullptr;
  xcb_shm_seg_t m_segment = 0;
  uint8_t* m_data = nullptr;
};

}  // namespace qvsp
