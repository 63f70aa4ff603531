// The X11 surface: one server connection per player, kept across windows
// until it breaks, a graphics context for the window, and an X11Image
// (shared memory where the server allows it) put into it.
#include <optional>

#include "window_surface.h"
#include "x11_image.h"
#include "x11_link.h"

namespace qvsp {

struct WindowSurface::State {
  std::unique_ptr<X11Link> link;
  xcb_window_t window = 0;
  xcb_gcontext_t gc = 0;
  WindowFormat format;
  std::unique_ptr<X11Image> image;
};

WindowSurface::WindowSurface() : m_state(std::make_unique<State>()) {}

WindowSurface::~WindowSurface() {
  Release();
}

bool WindowSurface::Target(void* window, int timeoutMs) {
  State& s = *m_state;
  const auto id = static_cast<xcb_window_t>(reinterpret_cast<uintptr_t>(window));
  if (id == 0) return false;
  SigpipeGuard guard;
  if (s.link && s.link->Broken()) Release();
  if (!s.link) {
    s.link = X11Link::Open();
    if (!s.link) return false;
  }
  if (id == s.window && s.gc != 0) return true;
  const std::optional<WindowFormat> format = s.link->DescribeWindow(id, timeoutMs);
  if (!format) {
    if (s.link->Broken()) Release();
    return false;
  }
  s.image.reset();
  if (s.gc != 0) xcb_free_gc(s.link->get(), s.gc);
  s.gc = xcb_generate_id(s.link->get());
  xcb_create_gc(s.link->get(), s.gc, id, 0, nullptr);
  s.window = id;
  s.format = *format;
  return true;
}

bool WindowSurface::Resize(int width, int height, int timeoutMs) {
  State& s = *m_state;
  if (s.image && s.image->Width() == width && s.image->Height() == height) return true;
  s.image.reset();
  if (!s.link) return false;
  s.image = X11Image::Create(*s.link, s.format, width, height, timeoutMs);
  return s.image != nullptr;
}

uint8_t* WindowSurface::Data() {
  return m_state->image ? m_state->image->Data() : nullptr;
}

int WindowSurface::Stride() const {
  return m_state->image ? m_state->image->Stride() : 0;
}

AVPixelFormat WindowSurface::PixelFormat() const {
  return m_state->format.pixelFormat;
}

bool WindowSurface::Put(int x, int y, int timeoutMs) {
  State& s = *m_state;
  if (!s.image || !s.link) return false;
  s.image->Put(s.window, s.gc, x, y);
  // The server reads the buffer until it has handled the requests.
  return s.link->Sync(timeoutMs);
}

void WindowSurface::DropImage() {
  m_state->image.reset();  // its shared memory is not needed while off
}

void WindowSurface::Release() {
  State& s = *m_state;
  s.image.reset();
  if (s.link && s.gc != 0 && !s.link->Broken()) {
    SigpipeGuard guard;
    xcb_free_gc(s.link->get(), s.gc);
  }
  s.gc = 0;
  s.window = 0;
  s.link.reset();
}

}  // namespace qvsp
