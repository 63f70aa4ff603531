// The viewer's one X11 window over xcb: created with a black background,
// listening for exposure, structure changes, keys and buttons; it draws
// boxes and text in the core font "fixed" and reads its own pixels back.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace qcview {

struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};

struct EventDeleter {
  void operator()(xcb_generic_event_t* e) const { std::free(e); }
};
using XEvent = std::unique_ptr<xcb_generic_event_t, EventDeleter>;

class XWindow {
 public:
  XWindow() = default;
  XWindow(const XWindow&) = delete;
  XWindow& operator=(const XWindow&) = delete;
  ~XWindow();

  // Connects to the X server named by DISPLAY and maps a width x height
  // window. False, with the reason in `error`, when either fails.
  bool Open(int width, int height, const std::string& title, std::string& error);

  xcb_window_t id() const { return m_window; }
  // The window as QCSDK_SetVideoPreview takes it: the window id as a pointer.
  void* handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(m_window)); }
  int fd() const { return xcb_get_file_descriptor(m_conn); }
  bool broken() const { return xcb_connection_has_error(m_conn) != 0; }

  // The next event already received (PollQueued: already read from the
  // socket only), or null.
  XEvent Poll() { return XEvent(xcb_poll_for_event(m_conn)); }
  XEvent PollQueued() { return XEvent(xcb_poll_for_queued_event(m_conn)); }
  // True for the window manager's request to close this window.
  bool IsCloseRequest(const xcb_client_message_event_t& message) const;
  // The unshifted key symbol of a key code (0 when it has none).
  uint32_t Keysym(xcb_keycode_t code) const;

  void Fill(const Box& box, uint32_t rgb);
  // One line of text with its top at `top`, cut to `maxWidth` pixels.
  void Text(int left, int top, int maxWidth, const std::string& text, uint32_t rgb,
            uint32_t background);
  int textHeight() const { return m_ascent + m_descent; }
  int charWidth() const { return m_charWidth; }
  void Flush() { xcb_flush(m_conn); }
  // Sends what was drawn and waits until the server has done it.
  void Sync();
  // The window's pixels as blue, green, red, 255, top-down rows.
  bool Capture(int width, int height, std::vector<uint8_t>& bgra, std::string& error);
  // A box of the window in the server's own 32-bit pixel layout, and back;
  // false when the server's pixels are not 32 bits.
  bool CaptureBox(const Box& box, std::vector<uint8_t>& pixels);
  void PutBox(const Box& box, const std::vector<uint8_t>& pixels);

 private:
  uint32_t Pixel(uint32_t rgb) const;
  int BitsPerPixel(uint8_t depth) const;

  xcb_connection_t* m_conn = nullptr;
  const xcb_screen_t* m_screen = nullptr;
  xcb_visualtype_t m_visual{};
  xcb_window_t m_window = 0;
  xcb_gcontext_t m_gc = 0;
  xcb_font_t m_font = 0;
  int m_ascent = 0, m_descent = 0, m_charWidth = 0;
  xcb_atom_t m_protocols = 0, m_deleteWindow = 0;
  xcb_keycode_t m_minKeycode = 0;
  int m_symsPerCode = 0;
  std::vector<xcb_keysym_t> m_keysyms;
};

}  // namespace qcview
