#include "host_window_win32.h"

#include <windows.h>

#include <string>

namespace qvsp_test {

HostWindowWin32::HostWindowWin32(int width, int height, uint32_t rgb)
    : m_width(width),
      m_height(height),
      m_brush(CreateSolidBrush(RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF))) {
  // One class per colour: the brush erases the background on every repaint.
  const std::string name = "qvsp-test-host-" + std::to_string(rgb);
  WNDCLASSA type{};
  type.lpfnWndProc = DefWindowProcA;
  type.hInstance = GetModuleHandleA(nullptr);
  type.hbrBackground = static_cast<HBRUSH>(m_brush);
  type.lpszClassName = name.c_str();
  RegisterClassA(&type);
  m_window = CreateWindowExA(0, name.c_str(), "host", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                             nullptr, nullptr, type.hInstance, nullptr);
  Paint();
}

HostWindowWin32::~HostWindowWin32() {
  DestroyWindow(static_cast<HWND>(m_window));
  DeleteObject(static_cast<HBRUSH>(m_brush));
}

void HostWindowWin32::Paint() {
  RedrawWindow(static_cast<HWND>(m_window), nullptr, nullptr,
               RDW_ERASE | RDW_INVALIDATE | RDW_ERASENOW | RDW_UPDATENOW);
  GdiFlush();
}

std::vector<uint32_t> HostWindowWin32::Pixels() const {
  const auto window = static_cast<HWND>(m_window);
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, m_width, m_height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, m_width, m_height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = m_width;
  info.bmiHeader.biHeight = -m_height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint32_t> pixels(static_cast<size_t>(m_width) * m_height);
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(m_height), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;  // B, G, R in memory: 0xRRGGBB
  return pixels;
}

}  // namespace qvsp_test
