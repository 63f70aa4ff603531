// The viewer's keys and clicks, the window's layout, and what the keys start
// on a tile: snapshots, recording, sound, PTZ, recording lists and playback.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "hostlib/event_names.h"
#include "hostlib/png_writer.h"
#include "viewer.h"
#include "viewer_tile.h"

namespace qcview {
namespace {

// Key symbols the viewer acts on.
constexpr uint32_t kTab = 0xff09, kReturn = 0xff0d, kEscape = 0xff1b, kHome = 0xff50,
                   kLeft = 0xff51, kUp = 0xff52, kRight = 0xff53, kDown = 0xff54,
                   kKeypadEnter = 0xff8d, kKeypadPlus = 0xffab, kKeypadMinus = 0xffad;
constexpr uint32_t kDoubleClickMs = 400;
constexpr int kSeekSeconds = 5;

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

void Viewer::Handle(XEvent event) {
  switch (event->response_type & 0x7f) {
    case XCB_EXPOSE:
      // The server has cleared the exposed part to black: draw the frames and
      // status lines again and have the players repaint their last pictures.
      if (reinterpret_cast<xcb_expose_event_t*>(event.get())->count != 0) break;
      DrawAll();
      for (auto& tile : m_tiles) {
        if (tile->showing && tile->picture.right > tile->picture.left) QCSDK_Refresh(tile->channel);
      }
      m_window.Flush();
      break;
    case XCB_CONFIGURE_NOTIFY: {
      const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event.get());
      if (configure->window == m_window.id() &&
          (configure->width != m_width || configure->height != m_height)) {
        Resize(configure->width, configure->height);  // an expose follows
      }
      break;
    }
    case XCB_KEY_PRESS: {
      const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event.get());
      OnKey(m_window.Keysym(key->detail), (key->state & XCB_MOD_MASK_SHIFT) != 0,
            (key->state & XCB_MOD_MASK_CONTROL) != 0);
      break;
    }
    case XCB_KEY_RELEASE: {
      const auto* key = reinterpret_cast<xcb_key_release_event_t*>(event.get());
      // A held key repeats as release + press with one time stamp: the PTZ
      // command goes on.
      XEvent next = m_window.PollQueued();
      if (next && (next->response_type & 0x7f) == XCB_KEY_PRESS) {
        const auto* press = reinterpret_cast<xcb_key_press_event_t*>(next.get());
        if (press->detail == key->detail && press->time == key->time) break;
      }
      const uint32_t symbol = m_window.Keysym(key->detail);
      Tile& tile = *m_tiles[m_selected];
      if (symbol >= kLeft && symbol <= kDown && tile.ptz >= 0) Ptz(tile, -1);
      if (next) Handle(std::move(next));
      break;
    }
    case XCB_BUTTON_PRESS: {
      const auto* button = reinterpret_cast<xcb_button_press_event_t*>(event.get());
      for (const auto& tile : m_tiles) {
        const Box& b = tile->boxes.tile;
        if (button->event_x < b.left || button->event_x >= b.right || button->event_y < b.top ||
            button->event_y >= b.bottom) {
          continue;
        }
        Select(tile->index);
        // A double click shows the tile alone, or the grid again.
        if (button->detail == 1 && m_lastClickTile == tile->index &&
            button->time - m_lastClick < kDoubleClickMs) {
          ToggleAlone();
          m_lastClickTile = -1;
        } else {
          m_lastClickTile = tile->index;
          m_lastClick = button->time;
        }
        break;
      }
      break;
    }
    case XCB_CLIENT_MESSAGE:
      if (m_window.IsCloseRequest(*reinterpret_cast<xcb_client_message_event_t*>(event.get())))
        m_quit = true;
      break;
    default: break;
  }
}

void Viewer::OnKey(uint32_t symbol, bool shift, bool control) {
  const int count = static_cast<int>(m_tiles.size());
  Tile& tile = *m_tiles[m_selected];
  if (tile.mode != Tile::Mode::kLive && OnPlaybackKey(tile, symbol)) return;
  if (symbol == kTab) {
    Select((m_selected + (shift ? count - 1 : 1)) % count);
  } else if (symbol >= kLeft && symbol <= kDown && control) {
    // Control + arrow moves the selection through the grid.
    const int step = symbol == kLeft    ? -1
                     : symbol == kRight ? 1
                     : symbol == kUp    ? -m_options.columns
                                        : m_options.columns;
    Select(std::clamp(m_selected + step, 0, count - 1));
  } else if (tile.channel < 0 || tile.link != Tile::Link::kUp) {
    // The rest needs a link.
    if (symbol == 'f') ToggleAlone();
    if (symbol == 'q' || (symbol == kEscape && m_alone < 0)) m_quit = true;
    if (symbol == kEscape && m_alone >= 0) ToggleAlone();
  } else if (symbol >= kLeft && symbol <= kDown) {
    // PTZ while the arrow is held: 0 up, 1 down, 2 left, 3 right.
    const int32_t command = symbol == kUp ? 0 : symbol == kDown ? 1 : symbol == kLeft ? 2 : 3;
    if (tile.ptz != command) Ptz(tile, command);
  } else if (symbol == 's') {
    Snapshot(tile);
  } else if (symbol == 'r') {
    ToggleRecording(tile);
  } else if (symbol == 'a') {
    ToggleSound(tile);
  } else if (symbol == 'p') {
    ListRecordings(tile, 0);
  } else if (symbol == 'f') {
    ToggleAlone();
  } else if (symbol == kEscape && m_alone >= 0) {
    ToggleAlone();
  } else if (symbol == 'q' || symbol == kEscape) {
    m_quit = true;
  }
}

bool Viewer::OnPlaybackKey(Tile& tile, uint32_t symbol) {
  if (symbol == kEscape || symbol == 'p') {
    BackToLive(tile, nullptr);
  } else if (tile.mode == Tile::Mode::kList) {
    const int last = static_cast<int>(tile.recordings.size()) - 1;
    if (symbol == kUp || symbol == kDown) {
      tile.chosen = std::clamp(tile.chosen + (symbol == kUp ? -1 : 1), 0, std::max(0, last));
    } else if (symbol == kLeft || symbol == kRight) {
      ListRecordings(tile, tile.day + (symbol == kLeft ? -1 : 1));
    } else if ((symbol == kReturn || symbol == kKeypadEnter) && last >= 0) {
      Play(tile);
    } else {
      return false;
    }
    DrawTile(tile);
  } else if (tile.mode == Tile::Mode::kPlaying) {
    PlaybackState& p = tile.playback;
    bool sent = true;
    if (symbol == ' ') {
      p.paused = !p.paused;
      sent = QCSDK_RemotePlayControl(tile.channel, p.paused ? 1 : 0, 0) == 1;
    } else if (symbol == '-' || symbol == '+' || symbol == '=' || symbol == kKeypadMinus ||
               symbol == kKeypadPlus) {
      const bool faster = symbol != '-' && symbol != kKeypadMinus;
      sent = QCSDK_RemotePlayControl(tile.channel, faster ? 2 : 3, 0) == 1;
      if (sent) p.speed = std::clamp(p.speed + (faster ? 1 : -1), -4, 4);
    } else if (symbol == '1') {
      sent = QCSDK_RemotePlayControl(tile.channel, 4, 0) == 1;
      if (sent) p.speed = 0;
    } else if (symbol == kLeft || symbol == kRight || symbol == kHome) {
      // Frames are counted from 1.
      const double fps = tile.info.frameRateDen > 0 && tile.info.frameRateNum > 0
                             ? static_cast<double>(tile.info.frameRateNum) / tile.info.frameRateDen
                             : 25.0;
      const int step = static_cast<int>(fps * kSeekSeconds) * (symbol == kLeft ? -1 : 1);
      const int total = std::max(1, tile.info.totalFrames);
      const int frame = symbol == kHome ? 1 : std::clamp(tile.info.framesReceived + step, 1, total);
      sent = QCSDK_RemotePlayControl(tile.channel, 5, frame) == 1;
    } else {
      return false;
    }
    if (!sent) std::printf("tile %d: the device took no playback command\n", tile.index + 1);
    DrawTile(tile);
  } else {
    return false;
  }
  m_window.Flush();
  return true;
}

void Viewer::Resize(int width, int height) {
  m_width = width;
  m_height = height;
  const std::vector<TileBoxes> boxes =
      LayOutGrid(m_options.columns, m_options.rows, width, height, kStatusHeight, m_alone);
  for (auto& tile : m_tiles) {
    tile->boxes = boxes[static_cast<std::size_t>(tile->index)];
    Place(*tile);
  }
}

void Viewer::Select(int index) {
  Tile& before = *m_tiles[m_selected];
  if (before.ptz >= 0) Ptz(before, -1);
  m_selected = index;
  if (m_alone >= 0 && m_alone != index) {
    // The tile shown alone follows the selection.
    m_alone = index;
    m_window.Fill({0, 0, m_width, m_height}, 0);
    Resize(m_width, m_height);
  }
  DrawAll();
}

void Viewer::ToggleAlone() {
  m_alone = m_alone < 0 ? m_selected : -1;
  // Old pictures and frames go; every tile draws itself anew.
  m_window.Fill({0, 0, m_width, m_height}, 0);
  Resize(m_width, m_height);
  DrawAll();
}

void Viewer::ListRecordings(Tile& tile, int day) {
  if (tile.mode == Tile::Mode::kPlaying) BackToLive(tile, nullptr);
  tile.day = day;
  tile.recordings.clear();
  tile.note.clear();
  tile.mode = Tile::Mode::kListing;
  const std::array<int32_t, 6> dates = DayQuery(day);
  if (QCSDK_GetRemoteRecFileList(tile.channel, dates.data()) != 1) {
    tile.mode = Tile::Mode::kList;
    tile.note = "the device cannot list recordings";
  }
  Place(tile);
  DrawTile(tile);
  m_window.Flush();
}

void Viewer::Play(Tile& tile) {
  const Recording& chosen = tile.recordings[static_cast<std::size_t>(tile.chosen)];
  // An Nxl link carries live pictures beside the playback's into the same
  // decoder: live video pauses while a recording plays.
  const bool nxl = tile.source.transport == QCSDK_TRANSPORT_NXL;
  if (nxl) QCSDK_EnableVideoData(tile.channel, 0);
  if (QCSDK_RemotePlay(tile.channel, chosen.index) != 1) {
    if (nxl) QCSDK_EnableVideoData(tile.channel, 1);
    tile.note = "the device did not play " + chosen.name;
    return;
  }
  tile.mode = Tile::Mode::kPlaying;
  tile.playback = PlaybackState{};
  tile.playback.name = chosen.name;
  tile.playback.decodedAtStart = tile.decoded.load();
  tile.note.clear();
  m_window.Fill(tile.boxes.video, 0);
  Place(tile);
  std::printf("tile %d: playing %s\n", tile.index + 1, chosen.name.c_str());
}

void Viewer::BackToLive(Tile& tile, const char* why) {
  if (tile.mode == Tile::Mode::kPlaying) {
    // Also after the device ended it: the playback is closed and live
    // pictures come again.
    QCSDK_RemotePlay(tile.channel, -1);
    if (tile.source.transport == QCSDK_TRANSPORT_NXL) QCSDK_EnableVideoData(tile.channel, 1);
  }
  tile.mode = Tile::Mode::kLive;
  tile.note = why != nullptr ? why : "";
  if (why != nullptr) std::printf("tile %d: %s\n", tile.index + 1, why);
  m_window.Fill(tile.boxes.video, 0);
  Place(tile);
  DrawTile(tile);
  m_window.Flush();
}

bool Viewer::ScriptStepDone() {
  // A list asked for has arrived; a playback started has shown its first
  // pictures (later steps may pause it).
  return std::none_of(m_tiles.begin(), m_tiles.end(), [](const auto& tile) {
    if (tile->mode == Tile::Mode::kListing) return true;
    if (tile->mode != Tile::Mode::kPlaying || tile->playback.shown) return false;
    StreamInfo info{};
    tile->playback.shown = QCSDK_GetStreamInfo(tile->channel, &info) == 1 && info.totalFrames > 0 &&
                           info.framesReceived >= 2 &&
                           tile->decoded.load() >= tile->playback.decodedAtStart + 2;
    return !tile->playback.shown;
  });
}

void Viewer::Snapshot(Tile& tile) {
  uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0;
  if (QCSDK_SaveBitmapToBuffer(tile.channel, &pixels, &width, &height) != 1) {
    std::printf("tile %d: no picture to save yet\n", tile.index + 1);
    return;
  }
  const std::string file =
      m_options.outDir + "/qcview-" + std::to_string(tile.index + 1) + "-" + TimeStamp() + ".png";
  const bool saved = hostlib::WritePng(file, pixels, width, height);
  QCSDK_FreeBitmapBuffer(pixels);
  std::printf("tile %d: %s %s (%dx%d)\n", tile.index + 1, saved ? "saved" : "could not write",
              file.c_str(), width, height);
}

void Viewer::ToggleRecording(Tile& tile) {
  if (tile.recording) {
    QCSDK_StopRec(tile.channel);
    tile.recording = false;
    std::printf("tile %d: recording stopped\n", tile.index + 1);
  } else {
    std::string extension = hostlib::RecordingExtension(tile.info.recordingKind);
    if (extension.empty()) extension = ".mp4";
    const std::string file = m_options.outDir + "/qcview-" + std::to_string(tile.index + 1) + "-" +
                             TimeStamp() + extension;
    tile.recording = QCSDK_StartRec(tile.channel, file.c_str()) == 1;
    tile.recordingSince = Clock::now();
    std::printf("tile %d: %s %s\n", tile.index + 1,
                tile.recording ? "recording to" : "could not record to", file.c_str());
  }
  DrawTile(tile);
  m_window.Flush();
}

void Viewer::ToggleSound(Tile& tile) {
  if (tile.sound) {
    QCSDK_SetAudioPreview(tile.channel, nullptr);
    tile.sound = false;
  } else {
    tile.sound = QCSDK_SetAudioPreview(tile.channel, m_window.handle()) == 1;
    if (!tile.sound) std::printf("tile %d: no sound output\n", tile.index + 1);
  }
  DrawTile(tile);
  m_window.Flush();
}

void Viewer::Ptz(Tile& tile, int32_t command) {
  // -1 stops the command running; a new command stops it first.
  if (tile.ptz >= 0) QCSDK_SendPTZCommand(tile.channel, tile.ptz, 0);
  tile.ptz = command;
  if (command >= 0 && QCSDK_SendPTZCommand(tile.channel, command, 1) != 1) tile.ptz = -1;
  DrawTile(tile);
  m_window.Flush();
}

}  // namespace qcview
