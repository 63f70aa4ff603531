// The viewer: one tile per device channel in a grid in one window. It
// connects every tile, switches decoding and display on when a link comes
// up, keeps the players' rectangles in step with the window, draws each
// tile's frame and status line, and acts on keys and clicks.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "hostlib/device_source.h"
#include "tile_grid.h"
#include "x_window.h"

namespace qcview {

struct ViewerOptions {
  int columns = 2;
  int rows = 2;
  std::string outDir = ".";  // snapshots and recordings
  // Headless: once every tile has shown pictures for `after` seconds (or
  // `timeout` seconds have passed), the window is written to this PNG file
  // and the viewer ends.
  std::string screenshot;
  double after = 2;
  double timeout = 30;
};

// Exit status of a screenshot written before every tile showed pictures.
constexpr int kExitTilesNotLive = 3;

class Viewer {
 public:
  Viewer(XWindow& window, const std::vector<hostlib::DeviceSource>& sources, ViewerOptions options);
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;
  // Stops recordings, display and sound, disconnects every tile and
  // releases the SDK.
  ~Viewer();

  // Initialises the SDK, connects the tiles and runs until the user quits
  // or, headless, the screenshot is written; returns the exit status.
  int Run(int width, int height);

 private:
  using Clock = std::chrono::steady_clock;
  struct Tile;

  static void QCSDK_CALLBACK OnEvent(int32_t channel, int32_t event, const char* data,
                                     int32_t value, void* user);
  static void QCSDK_CALLBACK OnDecoded(int32_t channel, const DecodedFrame* frame, void* user);

  void Wake();
  void StartDisplays();
  void Handle(XEvent event);
  void OnKey(const xcb_key_press_event_t& key);
  void Resize(int width, int height);
  void Select(int index);
  void Tick();
  void DrawTile(const Tile& tile);
  std::string StatusText(const Tile& tile) const;
  void Snapshot(Tile& tile);
  void ToggleRecording(Tile& tile);
  void ToggleSound(Tile& tile);
  void Ptz(Tile& tile, int32_t command);
  bool AllLive() const;
  int WriteScreenshot(int status);

  XWindow& m_window;
  ViewerOptions m_options;
  std::vector<std::unique_ptr<Tile>> m_tiles;
  int m_width = 0, m_height = 0;
  int m_selected = 0;
  Clock::time_point m_lastTick;
  int m_wakeFd = -1;
  bool m_sdkUp = false;
  bool m_quit = false;
  int m_exitStatus = 0;
};

}  // namespace qcview
