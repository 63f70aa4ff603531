#include "x11_image.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <new>

namespace qvsp {

std::unique_ptr<X11Image> X11Image::Create(X11Link& link, const WindowFormat& format, int width,
                                           int height, int timeoutMs) {
  if (width <= 0 || height <= 0 || format.bitsPerPixel <= 0) return nullptr;
  const int padBytes = std::max(1, format.scanlinePad / 8);
  const int rowBytes = (width * format.bitsPerPixel + 7) / 8;
  const int stride = (rowBytes + padBytes - 1) / padBytes * padBytes;
  auto image = std::make_unique<X11Image>(link, format, width, height, stride);
  if (link.HasShm() && image->AttachShared(timeoutMs)) return image;
  try {
    image->m_heap.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  image->m_data = image->m_heap.data();
  return image;
}

X11Image::X11Image(X11Link& link, const WindowFormat& format, int width, int height, int stride)
    : m_link(link), m_format(format), m_width(width), m_height(height), m_stride(stride) {}

X11Image::~X11Image() {
  if (m_segment != 0 && !m_link.Broken()) {
    SigpipeGuard guard;
    xcb_shm_detach(m_link.get(), m_segment);
    xcb_flush(m_link.get());
  }
  if (m_shared != nullptr) shmdt(m_shared);
}

bool X11Image::AttachShared(int timeoutMs) {
  const size_t size = static_cast<size_t>(m_stride) * m_height;
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return false;
  void* address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  const xcb_shm_seg_t segment = xcb_generate_id(m_link.get());
  xcb_shm_attach(m_link.get(), segment, static_cast<uint32_t>(id), 1);  // the server only reads
  const bool attached = m_link.Sync(timeoutMs);
  // Marked for removal now: the segment goes once both sides detach, even
  // if this process ends without cleaning up.
  shmctl(id, IPC_RMID, nullptr);
  if (!attached) {
    shmdt(address);
    return false;
  }
  m_shared = address;
  m_segment = segment;
  m_data = static_cast<uint8_t*>(address);
  return true;
}

void X11Image::Put(xcb_drawable_t drawable, xcb_gcontext_t gc, int x, int y) {
  xcb_connection_t* c = m_link.get();
  SigpipeGuard guard;
  if (m_segment != 0) {
    xcb_shm_put_image(
        c, drawable, gc, static_cast<uint16_t>(m_width), static_cast<uint16_t>(m_height), 0, 0,
        static_cast<uint16_t>(m_width), static_cast<uint16_t>(m_height), static_cast<int16_t>(x),
        static_cast<int16_t>(y), m_format.depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_segment, 0);
    return;
  }
  // A put-image request carries its own header; the rows go in strips that
  // fit the server's request size.
  constexpr size_t kHeaderBytes = 32;
  const size_t limit = m_link.MaxRequestBytes();
  const int rowsPerRequest = std::max<int>(
      1, static_cast<int>((limit > kHeaderBytes ? limit - kHeaderBytes : 0) / m_stride));
  for (int row = 0; row < m_height; row += rowsPerRequest) {
    const int rows = std::min(rowsPerRequest, m_height - row);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, static_cast<uint16_t>(m_width),
                  static_cast<uint16_t>(rows), static_cast<int16_t>(x),
                  static_cast<int16_t>(y + row), 0, m_format.depth,
                  static_cast<uint32_t>(rows) * static_cast<uint32_t>(m_stride),
                  m_data + static_cast<ptrdiff_t>(row) * m_stride);
  }
}

}  // namespace qvsp
