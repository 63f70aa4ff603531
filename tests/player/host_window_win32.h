// A host's window for the player tests on Windows: a borderless top-level
// window whose class brush paints its client area in one colour, read back
// through GDI as 0xRRGGBB, row by row.
#pragma once

#include <cstdint>
#include <vector>

namespace qvsp_test {

class HostWindowWin32 {
 public:
  HostWindowWin32(int width, int height, uint32_t rgb);
  ~HostWindowWin32();
  HostWindowWin32(const HostWindowWin32&) = delete;
  HostWindowWin32& operator=(const HostWindowWin32&) = delete;

  void* Handle() const { return m_window; }
  // Repaints the whole client area in the window's colour, as the host does.
  void Paint();
  std::vector<uint32_t> Pixels() const;

 private:
  const int m_width;
  const int m_height;
  void* m_brush;
  void* m_window;
};

}  // namespace qvsp_test
