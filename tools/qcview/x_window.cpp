#include "x_window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qcview {
namespace {

template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
ReplyPtr<Reply> Own(Reply* reply) {
  return ReplyPtr<Reply>(reply, &std::free);
}

xcb_atom_t Atom(xcb_connection_t* conn, const char* name) {
  auto reply = Own(xcb_intern_atom_reply(
      conn, xcb_intern_atom(conn, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
  return reply ? reply->atom : 0;
}

// Where a colour mask starts and how wide it is, to place 8-bit values.
uint32_t Place(uint32_t value8, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0, bits = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  while (((mask >> (shift + bits)) & 1) != 0) ++bits;
  const uint32_t scaled = bits >= 8 ? value8 << (bits - 8) : value8 >> (8 - bits);
  return (scaled << shift) & mask;
}

}  // namespace

XWindow::~XWindow() {
  if (m_conn == nullptr) return;
  if (m_font != 0) xcb_close_font(m_conn, m_font);
  if (m_gc != 0) xcb_free_gc(m_conn, m_gc);
  if (m_window != 0) xcb_destroy_window(m_conn, m_window);
  // Returns once the server has destroyed the window, so that whatever
  // another client draws afterwards finds it gone.
  Sync();
  xcb_disconnect(m_conn);
}

bool XWindow::Open(int width, int height, const std::string& title, std::string& error) {
  int screenNumber = 0;
  m_conn = xcb_connect(nullptr, &screenNumber);
  if (const int failure = xcb_connection_has_error(m_conn); failure != 0) {
    const char* display = std::getenv("DISPLAY");
    error = "cannot connect to the X server " + std::string(display ? display : "(DISPLAY unset)") +
            ", xcb error " + std::to_string(failure);
    return false;
  }
  const xcb_setup_t* setup = xcb_get_setup(m_conn);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  m_screen = screens.data;
  for (auto depths = xcb_screen_allowed_depths_iterator(m_screen); depths.rem > 0;
       xcb_depth_next(&depths)) {
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
         xcb_visualtype_next(&visuals)) {
      if (visuals.data->visual_id == m_screen->root_visual) m_visual = *visuals.data;
    }
  }

  m_window = xcb_generate_id(m_conn);
  const uint32_t values[] = {m_screen->black_pixel,
                             XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                 XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                 XCB_EVENT_MASK_BUTTON_PRESS};
  xcb_create_window(m_conn, XCB_COPY_FROM_PARENT, m_window, m_screen->root, 0, 0,
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(title.size()), title.data());
  m_protocols = Atom(m_conn, "WM_PROTOCOLS");
  m_deleteWindow = Atom(m_conn, "WM_DELETE_WINDOW");
  xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, m_window, m_protocols, XCB_ATOM_ATOM, 32, 1,
                      &m_deleteWindow);

  // Status text in the core font every X server has; without it the boxes
  // are drawn and the text left out.
  m_font = xcb_generate_id(m_conn);
  const char fontName[] = "fixed";
  if (xcb_request_check(m_conn, xcb_open_font_checked(m_conn, m_font, sizeof fontName - 1,
                                                      fontName)) != nullptr) {
    m_font = 0;
  }
  m_gc = xcb_generate_id(m_conn);
  const uint32_t gcValues[] = {m_screen->white_pixel, m_screen->black_pixel, m_font};
  xcb_create_gc(m_conn, m_gc, m_window,
                XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | (m_font != 0 ? XCB_GC_FONT : 0), gcValues);
  if (m_font != 0) {
    if (auto font = Own(xcb_query_font_reply(m_conn, xcb_query_font(m_conn, m_font), nullptr))) {
      m_ascent = font->font_ascent;
      m_descent = font->font_descent;
      m_charWidth = font->max_bounds.character_width;
    }
  }

  m_minKeycode = setup->min_keycode;
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  if (auto keys = Own(xcb_get_keyboard_mapping_reply(
          m_conn, xcb_get_keyboard_mapping(m_conn, m_minKeycode, count), nullptr))) {
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keys.get());
    m_keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(keys.get()));
    m_symsPerCode = keys->keysyms_per_keycode;
  }

  xcb_map_window(m_conn, m_window);
  xcb_flush(m_conn);
  if (broken()) {
    error = "the X server closed the connection";
    return false;
  }
  return true;
}

bool XWindow::IsCloseRequest(const xcb_client_message_event_t& message) const {
  return message.type == m_protocols && message.data.data32[0] == m_deleteWindow;
}

uint32_t XWindow::Keysym(xcb_keycode_t code) const {
  const std::size_t index = static_cast<std::size_t>(code - m_minKeycode) * m_symsPerCode;
  return code >= m_minKeycode && index < m_keysyms.size() ? m_keysyms[index] : 0;
}

uint32_t XWindow::Pixel(uint32_t rgb) const {
  if (m_visual._class != XCB_VISUAL_CLASS_TRUE_COLOR &&
      m_visual._class != XCB_VISUAL_CLASS_DIRECT_COLOR) {
    return (rgb & 0x808080) != 0 ? m_screen->white_pixel : m_screen->black_pixel;
  }
  return Place((rgb >> 16) & 0xFF, m_visual.red_mask) |
         Place((rgb >> 8) & 0xFF, m_visual.green_mask) | Place(rgb & 0xFF, m_visual.blue_mask);
}

void XWindow::Fill(const Box& box, uint32_t rgb) {
  if (box.right <= box.left || box.bottom <= box.top) return;
  const uint32_t foreground = Pixel(rgb);
  xcb_change_gc(m_conn, m_gc, XCB_GC_FOREGROUND, &foreground);
  const xcb_rectangle_t r{static_cast<int16_t>(box.left), static_cast<int16_t>(box.top),
                          static_cast<uint16_t>(box.right - box.left),
                          static_cast<uint16_t>(box.bottom - box.top)};
  xcb_poly_fill_rectangle(m_conn, m_window, m_gc, 1, &r);
}

void XWindow::Text(int left, int top, int maxWidth, const std::string& text, uint32_t rgb,
                   uint32_t background) {
  if (m_font == 0 || m_charWidth <= 0) return;
  const std::size_t fits = static_cast<std::size_t>(std::max(0, maxWidth / m_charWidth));
  const std::size_t length = std::min({text.size(), fits, std::size_t{255}});
  if (length == 0) return;
  const uint32_t colours[] = {Pixel(rgb), Pixel(background)};
  xcb_change_gc(m_conn, m_gc, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND, colours);
  xcb_image_text_8(m_conn, static_cast<uint8_t>(length), m_window, m_gc, static_cast<int16_t>(left),
                   static_cast<int16_t>(top + m_ascent), text.data());
}

void XWindow::Sync() {
  std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
}

bool XWindow::Capture(int width, int height, std::vector<uint8_t>& bgra, std::string& error) {
  xcb_generic_error_t* failure = nullptr;
  auto image = Own(xcb_get_image_reply(
      m_conn,
      xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, 0, 0, static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height), ~0u),
      &failure));
  std::free(failure);
  if (!image) {
    error = "the X server refused to read the window back";
    return false;
  }
  // Pixels of 32 bits are read with the visual's masks; other layouts are
  // not expected from the servers this runs on.
  const xcb_setup_t* setup = xcb_get_setup(m_conn);
  const int bitsPerPixel = BitsPerPixel(image->depth);
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  if (bitsPerPixel != 32 ||
      static_cast<std::size_t>(xcb_get_image_data_length(image.get())) < pixels * 4) {
    error = "the window's pixels are not 32-bit (" + std::to_string(bitsPerPixel) + " bits)";
    return false;
  }
  const uint8_t* data = xcb_get_image_data(image.get());
  const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  bgra.resize(pixels * 4);
  for (std::size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = data + i * 4;
    const uint32_t value = lsbFirst ? (p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24)
                                    : (uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]);
    auto channel = [&](uint32_t mask) {
      if (mask == 0) return uint8_t{0};
      int shift = 0;
      while (((mask >> shift) & 1) == 0) ++shift;
      return static_cast<uint8_t>(((value & mask) >> shift) * 255 / (mask >> shift));
    };
    bgra[i * 4 + 0] = channel(m_visual.blue_mask);
    bgra[i * 4 + 1] = channel(m_visual.green_mask);
    bgra[i * 4 + 2] = channel(m_visual.red_mask);
    bgra[i * 4 + 3] = 255;
  }
  return true;
}

int XWindow::BitsPerPixel(uint8_t depth) const {
  for (auto formats = xcb_setup_pixmap_formats_iterator(xcb_get_setup(m_conn)); formats.rem > 0;
       xcb_format_next(&formats)) {
    if (formats.data->depth == depth) return formats.data->bits_per_pixel;
  }
  return 0;
}

bool XWindow::CaptureBox(const Box& box, std::vector<uint8_t>& pixels) {
  const int w = box.right - box.left, h = box.bottom - box.top;
  if (w <= 0 || h <= 0) return false;
  xcb_generic_error_t* failure = nullptr;
  auto image = Own(xcb_get_image_reply(
      m_conn,
      xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, static_cast<int16_t>(box.left),
                    static_cast<int16_t>(box.top), static_cast<uint16_t>(w),
                    static_cast<uint16_t>(h), ~0u),
      &failure));
  std::free(failure);
  const std::size_t bytes = static_cast<std::size_t>(w) * h * 4;
  if (!image || image->depth != m_screen->root_depth || BitsPerPixel(image->depth) != 32 ||
      static_cast<std::size_t>(xcb_get_image_data_length(image.get())) < bytes) {
    return false;
  }
  const uint8_t* data = xcb_get_image_data(image.get());
  pixels.assign(data, data + bytes);
  return true;
}

void XWindow::PutBox(const Box& box, const std::vector<uint8_t>& pixels) {
  const int w = box.right - box.left, h = box.bottom - box.top;
  if (w <= 0 || h <= 0 || pixels.size() < static_cast<std::size_t>(w) * h * 4) return;
  // In bands of rows that fit one request (the request header takes 24 bytes).
  const std::size_t maxBytes = xcb_get_maximum_request_length(m_conn) * 4u - 64;
  const int band = std::max(1, static_cast<int>(maxBytes / (static_cast<std::size_t>(w) * 4)));
  for (int row = 0; row < h; row += band) {
    const int rows = std::min(band, h - row);
    xcb_put_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, static_cast<uint16_t>(w),
                  static_cast<uint16_t>(rows), static_cast<int16_t>(box.left),
                  static_cast<int16_t>(box.top + row), 0, m_screen->root_depth,
                  static_cast<uint32_t>(rows) * w * 4,
                  pixels.data() + static_cast<std::size_t>(row) * w * 4);
  }
}

}  // namespace qcview
