#include "x11_link.h"

#include <poll.h>
#include <pthread.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace qvsp {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

const xcb_visualtype_t* FindVisual(const xcb_setup_t* setup, xcb_visualid_t id) {
  for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
    for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
         xcb_depth_next(&depth)) {
      for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
           xcb_visualtype_next(&visual)) {
        if (visual.data->visual_id == id) return visual.data;
      }
    }
  }
  return nullptr;
}

const xcb_format_t* FindPixmapFormat(const xcb_setup_t* setup, uint8_t depth) {
  for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
       xcb_format_next(&format)) {
    if (format.data->depth == depth) return format.data;
  }
  return nullptr;
}

// The libav pixel format whose bytes in memory are the window's pixels.
AVPixelFormat PixelFormat(const xcb_visualtype_t& visual, int bitsPerPixel, bool lsbFirst) {
  if (visual._class != XCB_VISUAL_CLASS_TRUE_COLOR &&
      visual._class != XCB_VISUAL_CLASS_DIRECT_COLOR) {
    return AV_PIX_FMT_NONE;
  }
  const uint32_t r = visual.red_mask;
  const uint32_t g = visual.green_mask;
  const uint32_t b = visual.blue_mask;
  if (bitsPerPixel == 32 && g == 0xff00) {
    if (r == 0xff0000 && b == 0xff) return lsbFirst ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_0RGB;
    if (r == 0xff && b == 0xff0000) return lsbFirst ? AV_PIX_FMT_RGB0 : AV_PIX_FMT_0BGR;
  }
  if (bitsPerPixel == 24 && g == 0xff00) {
    if (r == 0xff0000 && b == 0xff) return lsbFirst ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
    if (r == 0xff && b == 0xff0000) return lsbFirst ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGR24;
  }
  if (bitsPerPixel == 16 && b == 0x1f) {
    if (r == 0xf800 && g == 0x7e0) return lsbFirst ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_RGB565BE;
    if (r == 0x7c00 && g == 0x3e0) return lsbFirst ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_RGB555BE;
  }
  return AV_PIX_FMT_NONE;
}

}  // namespace

SigpipeGuard::SigpipeGuard() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  m_wasBlocked = sigismember(&old, SIGPIPE) == 1;
}

SigpipeGuard::~SigpipeGuard() {
  if (m_wasBlocked) return;
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  if (sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

std::unique_ptr<X11Link> X11Link::Open() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  SigpipeGuard guard;
  // xcb_connect reads the authority file through libXau, which builds the
  // file's name in a static buffer of its own: players that switch display
  // on from several threads connect one at a time.
  static std::mutex connecting;
  std::unique_lock<std::mutex> lock(connecting);
  xcb_connection_t* connection = xcb_connect(name, nullptr);
  lock.unlock();
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::make_unique<X11Link>(connection);
}

X11Link::X11Link(xcb_connection_t* connection) : m_connection(connection) {
  SigpipeGuard guard;
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(m_connection, &xcb_shm_id);
  m_shm = shm != nullptr && shm->present != 0;
  // Turns on big requests where offered, so that whole pictures fit.
  xcb_prefetch_maximum_request_length(m_connection);
}

X11Link::~X11Link() {
  SigpipeGuard guard;
  xcb_disconnect(m_connection);
}

bool X11Link::Broken() const {
  return xcb_connection_has_error(m_connection) != 0;
}

size_t X11Link::MaxRequestBytes() const {
  SigpipeGuard guard;
  return static_cast<size_t>(xcb_get_maximum_request_length(m_connection)) * 4;
}

void X11Link::DrainEvents(bool& failed) {
  // The player selects no events, so what arrives here is the server's
  // answer to a request that failed.
  while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
    if (event->response_type == 0) failed = true;
    std::free(event);
  }
}

void* X11Link::WaitReply(unsigned int sequence, int timeoutMs, bool& failed) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  SigpipeGuard guard;
  xcb_flush(m_connection);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    // Reading events first makes the library read the socket; the reply is
    // then found among what it read.
    DrainEvents(failed);
    if (xcb_poll_for_reply(m_connection, sequence, &reply, &error) != 0) {
      if (error != nullptr) failed = true;
      std::free(error);
      return reply;
    }
    if (Broken()) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
  }
  failed = true;
  return nullptr;
}

bool X11Link::Sync(int timeoutMs) {
  bool failed = false;
  const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(m_connection);
  Reply<void> reply(WaitReply(cookie.sequence, timeoutMs, failed));
  // Errors of earlier requests arrive before this reply.
  DrainEvents(failed);
  return reply && !failed && !Broken();
}

std::optional<WindowFormat> X11Link::DescribeWindow(xcb_window_t window, int timeoutMs) {
  bool failed = false;
  const auto geometryCookie = xcb_get_geometry(m_connection, window);
  const auto attributesCookie = xcb_get_window_attributes(m_connection, window);
  Reply<xcb_get_geometry_reply_t> geometry(static_cast<xcb_get_geometry_reply_t*>(
      WaitReply(geometryCookie.sequence, timeoutMs, failed)));
  Reply<xcb_get_window_attributes_reply_t> attributes(
      static_cast<xcb_get_window_attributes_reply_t*>(
          WaitReply(attributesCookie.sequence, timeoutMs, failed)));
  if (!geometry || !attributes || failed) return std::nullopt;
  const xcb_setup_t* setup = xcb_get_setup(m_connection);
  const xcb_visualtype_t* visual = FindVisual(setup, attributes->visual);
  const xcb_format_t* format = FindPixmapFormat(setup, geometry->depth);
  if (visual == nullptr || format == nullptr) return std::nullopt;
  WindowFormat out;
  out.depth = geometry->depth;
  out.bitsPerPixel = format->bits_per_pixel;
  out.scanlinePad = format->scanline_pad;
  out.pixelFormat = PixelFormat(*visual, format->bits_per_pixel,
                                setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST);
  if (out.pixelFormat == AV_PIX_FMT_NONE) return std::nullopt;
  return out;
}

}  // namespace qvsp
