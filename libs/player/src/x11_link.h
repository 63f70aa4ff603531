// One connection to the X server named by DISPLAY, owned by one player while
// it shows video. The player only draws into a window the host owns: it
// never selects events on it, never maps, moves, resizes or reparents it.
//
// Every wait on the server is bounded, so a server that stops answering can
// hold a drawing thread for at most the time budget given, and a server that
// goes away is seen as a broken connection. Writes to a closed connection do
// not raise SIGPIPE in the process (see SigpipeGuard).
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qvsp {

// What the player needs to know of a window to put images into it.
struct WindowFormat {
  uint8_t depth = 0;
  int bitsPerPixel = 0;
  int scanlinePad = 0;  // in bits
  AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
};

class X11Link {
 public:
  // Connects to the server named by DISPLAY; empty when DISPLAY is unset or
  // the server cannot be reached.
  static std::unique_ptr<X11Link> Open();
  explicit X11Link(xcb_connection_t* connection);
  ~X11Link();
  X11Link(const X11Link&) = delete;
  X11Link& operator=(const X11Link&) = delete;

  xcb_connection_t* get() const { return m_connection; }
  bool Broken() const;
  bool HasShm() const { return m_shm; }
  // Largest request the server accepts, in bytes.
  size_t MaxRequestBytes() const;

  // The window's depth and pixel layout; empty when the window does not
  // exist or its visual is one the player cannot draw into.
  std::optional<WindowFormat> DescribeWindow(xcb_window_t window, int timeoutMs);

  // Waits until the server has handled every request sent so far. False
  // when the connection broke, the time ran out, or the server reported an
  // error for any of those requests (a window the host destroyed, say).
  bool Sync(int timeoutMs);

 private:
  // Waits for the reply to request `sequence`; the caller frees it.
  void* WaitReply(unsigned int sequence, int timeoutMs, bool& failed);
  // Reads what the server has sent; an error event marks `failed`.
  void DrainEvents(bool& failed);

  xcb_connection_t* m_connection;
  bool m_shm = false;
};

// Blocks SIGPIPE on the calling thread while it lives, and discards a
// SIGPIPE that a write to a closed connection raised meanwhile, so that a
// vanished X server never ends the host process. Process-wide signal
// handling is left alone.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  bool m_wasBlocked = false;
};

}  // namespace qvsp
