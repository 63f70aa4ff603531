// The GDI surface: a top-down 32-bit DIB in the player's memory, put into
// the host's HWND with SetDIBitsToDevice on a device context of the window's
// client area, taken for each draw and given back at once. The player never
// changes the window, its class or its device context's settings.
#include <windows.h>

#include <new>
#include <vector>

#include "window_surface.h"

namespace qvsp {

struct WindowSurface::State {
  HWND window = nullptr;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // B, G, R, unused: a 32-bit DIB's bytes
};

WindowSurface::WindowSurface() : m_state(std::make_unique<State>()) {}

WindowSurface::~WindowSurface() = default;

bool WindowSurface::Target(void* window, int /*timeoutMs*/) {
  const auto hwnd = static_cast<HWND>(window);
  if (hwnd == nullptr || !IsWindow(hwnd)) return false;
  m_state->window = hwnd;
  return true;
}

bool WindowSurface::Resize(int width, int height, int /*timeoutMs*/) {
  State& s = *m_state;
  if (!s.pixels.empty() && s.width == width && s.height == height) return true;
  if (width <= 0 || height <= 0) return false;
  try {
    s.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    s.pixels.clear();
    return false;
  }
  s.width = width;
  s.height = height;
  return true;
}

uint8_t* WindowSurface::Data() {
  return m_state->pixels.empty() ? nullptr : m_state->pixels.data();
}

int WindowSurface::Stride() const {
  return m_state->width * 4;  // 32-bit rows need no padding
}

AVPixelFormat WindowSurface::PixelFormat() const {
  return AV_PIX_FMT_BGR0;
}

bool WindowSurface::Put(int x, int y, int /*timeoutMs*/) {
  State& s = *m_state;
  // A window the host destroyed fails the draw; its handle may come back
  // for another window later, so the player lets go of it.
  if (s.pixels.empty() || !IsWindow(s.window)) return false;
  HDC dc = GetDC(s.window);
  if (dc == nullptr) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = s.width;
  info.bmiHeader.biHeight = -s.height;  // negative: the first row is the top one
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int rows =
      SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(s.width), static_cast<DWORD>(s.height), 0, 0,
                        0, static_cast<UINT>(s.height), s.pixels.data(), &info, DIB_RGB_COLORS);
  // GDI batches drawing per thread: the picture is in the window once the
  // batch is flushed, and the buffer may be rewritten after that.
  GdiFlush();
  ReleaseDC(s.window, dc);
  return rows > 0;
}

void WindowSurface::DropImage() {
  std::vector<uint8_t>().swap(m_state->pixels);
}

void WindowSurface::Release() {
  DropImage();
  m_state->window = nullptr;
}

}  // namespace qvsp
