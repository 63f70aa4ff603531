#include "support/host_window.h"

#include <cstdlib>
#include <cstring>

namespace qcsdk::test {

HostWindow::HostWindow(const std::string& display, int width, int height)
    : m_width(width), m_height(height) {
  int screenNumber = 0;
  m_connection = xcb_connect(display.c_str(), &screenNumber);
  if (xcb_connection_has_error(m_connection)) return;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
  const xcb_screen_t* screen = it.data;
  const xcb_window_t window = xcb_generate_id(m_connection);
  const uint32_t values[] = {screen->black_pixel};
  xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
  xcb_map_window(m_connection, window);
  m_gc = xcb_generate_id(m_connection);
  xcb_create_gc(m_connection, m_gc, window, 0, nullptr);
  // Without a window manager the window is viewable once the server has
  // handled the map request.
  free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
  m_window = window;
}

HostWindow::~HostWindow() {
  xcb_disconnect(m_connection);
}

void HostWindow::Fill(uint32_t rgb) {
  xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND, &rgb);
  const xcb_rectangle_t all = {0, 0, static_cast<uint16_t>(m_width),
                               static_cast<uint16_t>(m_height)};
  xcb_poly_fill_rectangle(m_connection, m_window, m_gc, 1, &all);
  free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

std::vector<uint32_t> HostWindow::Pixels() {
  std::vector<uint32_t> out;
  xcb_get_image_reply_t* image = xcb_get_image_reply(
      m_connection,
      xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, 0, 0,
                    static_cast<uint16_t>(m_width), static_cast<uint16_t>(m_height), ~0u),
      nullptr);
  if (image == nullptr) return out;
  // Depth 24 at 32 bits per pixel, least significant byte first: 0x00RRGGBB.
  const size_t count = static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
  if (static_cast<size_t>(xcb_get_image_data_length(image)) >= count * 4) {
    out.resize(count);
    std::memcpy(out.data(), xcb_get_image_data(image), count * 4);
    for (uint32_t& p : out) p &= 0xFFFFFF;
  }
  free(image);
  return out;
}

void HostWindow::Destroy() {
  xcb_destroy_window(m_connection, m_window);
  free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

}  // namespace qcsdk::test
