// A host's window for display tests, on the test's own X connection: a
// window the test paints and reads back pixel by pixel.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qcsdk::test {

class HostWindow {
 public:
  // Connects to `display` and maps a width x height window; check Ok().
  HostWindow(const std::string& display, int width, int height);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool Ok() const { return m_window != 0; }
  // The window as a host hands it to the SDK.
  void* Handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(m_window)); }
  xcb_window_t Id() const { return m_window; }
  // Paints the whole window in 0xRRGGBB and waits until the server has.
  void Fill(uint32_t rgb);
  // The window's pixels as 0xRRGGBB, row by row.
  std::vector<uint32_t> Pixels();
  void Destroy();

 private:
  xcb_connection_t* m_connection = nullptr;
  xcb_window_t m_window = 0;
  xcb_gcontext_t m_gc = 0;
  int m_width;
  int m_height;
};

}  // namespace qcsdk::test
