// A host's borderless window in kHostColour, read back after a player drew into it (Windows, GDI).
#pragma once

#include <cstdint>
#include <vector>

namespace qcsdk::test {

// The colour a host paints its window in before a player draws into it.
constexpr uint32_t kHostColour = 0x336699;

// The luma sample (16 to 235) a pixel drawn as 0xRRGGBB came from (BT.601, studio range).
inline int Luma(uint32_t c) {
  return 16 +
         static_cast<int>(66 * (c >> 16) + 129 * (c >> 8 & 0xFF) + 25 * (c & 0xFF) + 128) / 256;
}

class HostWindow {
 public:
  HostWindow(int width, int height);  // at the desktop's top-left corner
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  void* handle() const { return m_handle; }  // the HWND
  std::vector<uint32_t> Pixels() const;      // 0xRRGGBB, row by row

 private:
  int m_width, m_height;
  void* m_handle;
};

}  // namespace qcsdk::test
