#include <windows.h>

#include "support/host_window.h"

namespace qcsdk::test {

HostWindow::HostWindow(int width, int height) : m_width(width), m_height(height) {
  static const HBRUSH brush =
      CreateSolidBrush(RGB(kHostColour >> 16, kHostColour >> 8 & 0xFF, kHostColour & 0xFF));
  WNDCLASSA type{};
  type.lpfnWndProc = DefWindowProcA;
  type.hbrBackground = brush;
  type.lpszClassName = "qcsdk-test-host";
  RegisterClassA(&type);  // fails harmlessly when registered before
  m_handle = CreateWindowExA(0, type.lpszClassName, "host", WS_POPUP | WS_VISIBLE, 0, 0, width,
                             height, nullptr, nullptr, nullptr, nullptr);
  RedrawWindow(static_cast<HWND>(m_handle), nullptr, nullptr,
               RDW_ERASE | RDW_INVALIDATE | RDW_ERASENOW);
}

HostWindow::~HostWindow() {
  DestroyWindow(static_cast<HWND>(m_handle));
}

std::vector<uint32_t> HostWindow::Pixels() const {
  std::vector<uint32_t> pixels;
  HDC dc = GetDC(static_cast<HWND>(m_handle));
  for (int i = 0; i < m_width * m_height; ++i) {
    const COLORREF c = GetPixel(dc, i % m_width, i / m_width);
    pixels.push_back(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
  }
  ReleaseDC(static_cast<HWND>(m_handle), dc);
  return pixels;
}

}  // namespace qcsdk::test
