// The viewer: one tile per device channel in a grid in one window. It
// connects every tile and connects it again with a growing delay when the
// connect fails or the link ends, switches decoding and display on when a
// link comes up, keeps the pictures' rectangles in step with the window and
// the pictures' aspect ratio, draws each tile's frame, messages and status
// line, lists and plays back a device's recordings, and acts on keys and
// clicks.
#pragma once

#include <qcsdk/qcsdk.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostlib/device_source.h"
#include "link_state.h"
#include "recordings.h"
#include "tile_grid.h"
#include "x_window.h"

namespace qcview {

struct ViewerOptions {
  int columns = 2;
  int rows = 2;
  std::string outDir = ".";  // snapshots and recordings
  // Headless: once every tile has shown pictures and the scripted keys have
  // run, the window is written to this PNG file `after` seconds later (or
  // when `timeout` seconds have passed) and the viewer ends.
  std::string screenshot;
  double after = 2;
  double timeout = 30;
  // Key symbols pressed one after the other once every tile shows pictures;
  // each waits for what the one before asked for (a list, a playback).
  std::vector<uint32_t> keys;
};

// A scripted step that presses nothing and waits until every tile is live
// again (its list closed, its playback ended).
constexpr uint32_t kScriptWaitForLive = 0x1000000;

// Exit status of a screenshot written before every tile showed pictures.
constexpr int kExitTilesNotLive = 3;

class Viewer {
 public:
  Viewer(XWindow& window, const std::vector<hostlib::DeviceSource>& sources, ViewerOptions options);
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;
  // Stops recordings, playback, display and sound, disconnects every tile
  // and releases the SDK.
  ~Viewer();

  // Initialises the SDK, connects the tiles and runs until the user quits
  // (a key, the window closed, SIGINT or SIGTERM) or, headless, the
  // screenshot is written; returns the exit status.
  int Run(int width, int height);

 private:
  using Clock = std::chrono::steady_clock;
  struct Tile;
  // A link event, kept for the viewer's thread in the order the SDK gave it.
  struct Report {
    Tile* tile = nullptr;
    int32_t channel = 0, event = 0;
    std::vector<Recording> list;
  };

  static void QCSDK_CALLBACK OnEvent(int32_t channel, int32_t event, const char* data,
                                     int32_t value, void* user);
  static void QCSDK_CALLBACK OnDecoded(int32_t channel, const DecodedFrame* frame, void* user);

  // Links (viewer.cpp).
  void Post(Report report);
  void HandleReports();
  void OnReport(Tile& tile, const Report& report);
  void Connect(Tile& tile);
  void LinkEnded(Tile& tile, const std::string& why);
  void ShowPictures(Tile& tile);
  void Place(Tile& tile);
  void Tick();
  bool AllLive() const;
  Clock::time_point NextRetry() const;

  // Window, keys and playback (viewer_input.cpp).
  void Handle(XEvent event);
  void OnKey(uint32_t symbol, bool shift, bool control);
  bool OnPlaybackKey(Tile& tile, uint32_t symbol);
  void Resize(int width, int height);
  void Select(int index);
  void ToggleAlone();
  void ListRecordings(Tile& tile, int day);
  void Play(Tile& tile);
  void BackToLive(Tile& tile, const char* why);
  void Snapshot(Tile& tile);
  void ToggleRecording(Tile& tile);
  void ToggleSound(Tile& tile);
  void Ptz(Tile& tile, int32_t command);
  bool ScriptStepDone();

  // Drawing (viewer_draw.cpp).
  void DrawAll();
  void DrawTile(const Tile& tile);
  void DrawMessages(const Tile& tile);
  std::string StatusText(const Tile& tile) const;
  std::vector<std::pair<std::string, uint32_t>> Badges(const Tile& tile) const;
  void Dim(Tile& tile);
  int WriteScreenshot(int status);

  XWindow& m_window;
  ViewerOptions m_options;
  std::vector<std::unique_ptr<Tile>> m_tiles;
  std::mutex m_reportsMutex;
  std::vector<Report> m_reports;
  int m_width = 0, m_height = 0;
  int m_selected = 0;
  int m_alone = -1;  // the tile shown alone in the whole window, -1 none
  uint32_t m_lastClick = 0;
  int m_lastClickTile = -1;
  std::size_t m_nextKey = 0;  // the next scripted key
  Clock::time_point m_lastTick;
  int m_wakeFd = -1;
  int m_signalFd = -1;
  bool m_sdkUp = false;
  bool m_quit = false;
  int m_exitStatus = 0;
};

}  // namespace qcview
