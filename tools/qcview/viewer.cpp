#include "viewer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "hostlib/event_names.h"
#include "hostlib/png_writer.h"

namespace qcview {
namespace {

// Key symbols the viewer acts on.
constexpr uint32_t kTab = 0xff09, kEscape = 0xff1b, kLeft = 0xff51, kUp = 0xff52, kRight = 0xff53,
                   kDown = 0xff54;

constexpr uint32_t kFrameColour = 0x303030, kSelectedColour = 0xf0c000,
                   kStatusBackground = 0x202020, kStatusText = 0xe0e0e0;
constexpr auto kTickPeriod = std::chrono::seconds(1);
constexpr int32_t kLinkEnded = -2;  // a tile's channel after its link ended

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

const char* RecordingExtension(int32_t kind) {
  switch (kind) {
    case 1: return ".sv4";
    case 2: return ".sv5";
    case 3: return ".sv6";
    default: return ".mp4";
  }
}

}  // namespace

struct Viewer::Tile {
  Viewer* owner = nullptr;
  int index = 0;
  hostlib::DeviceSource source;
  // Written by the SDK's threads.
  std::atomic<int32_t> channel{-1};  // -1 before the connect returns
  std::atomic<int32_t> event{0};     // the last link event, 0 before any
  std::atomic<bool> linkUp{false};   // connected, display not switched on yet
  std::atomic<uint32_t> decoded{0};  // pictures decoded
  // The viewer's thread only.
  TileBoxes boxes;
  bool showing = false;
  uint32_t decodedAtShow = 0;
  uint32_t decodedAtTick = 0;
  double fps = 0;
  StreamInfo info{};
  bool recording = false;
  bool sound = false;
  int32_t ptz = -1;  // the PTZ command running, -1 none
};

Viewer::Viewer(XWindow& window, const std::vector<hostlib::DeviceSource>& sources,
               ViewerOptions options)
    : m_window(window), m_options(std::move(options)) {
  for (const hostlib::DeviceSource& source : sources) {
    auto tile = std::make_unique<Tile>();
    tile->owner = this;
    tile->index = static_cast<int>(m_tiles.size());
    tile->source = source;
    m_tiles.push_back(std::move(tile));
  }
  m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Viewer::~Viewer() {
  for (auto& tile : m_tiles) {
    const int32_t channel = tile->channel.load();
    if (channel < 0) continue;
    if (tile->recording) QCSDK_StopRec(channel);
    if (tile->sound) QCSDK_SetAudioPreview(channel, nullptr);
    QCSDK_SetVideoPreview(channel, nullptr, nullptr);
    QCSDK_Disconnect(channel);
  }
  // After the release no callback runs any more: the tiles may go.
  if (m_sdkUp) QCSDK_ReleaseSDK();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  if (m_wakeFd >= 0) close(m_wakeFd);
}

void Viewer::OnEvent(int32_t channel, int32_t event, const char*, int32_t, void* user) {
  Tile* tile = static_cast<Tile*>(user);
  // Only link events change a tile's state (lists, playback and recording
  // reports do not).
  if (tile == nullptr || event < QCSDK_EVENT_CONNECTED || event > QCSDK_EVENT_REMOTE_CLOSED) return;
  tile->event.store(event);
  if (event == QCSDK_EVENT_CONNECTED) {
    tile->channel.store(channel);
    tile->linkUp.store(true);
  } else {
    tile->channel.store(kLinkEnded);  // the number is given back: never use it again
  }
  tile->owner->Wake();
}

void Viewer::OnDecoded(int32_t, const DecodedFrame*, void* user) {
  if (Tile* tile = static_cast<Tile*>(user)) tile->decoded.fetch_add(1);
}

void Viewer::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
}

int Viewer::Run(int width, int height) {
  QCSDK_RegisterCallback(&Viewer::OnEvent, nullptr, nullptr, &Viewer::OnDecoded, nullptr);
  m_sdkUp = QCSDK_InitSDK(0, m_options.outDir.c_str()) == 1;
  if (!m_sdkUp) {
    std::fprintf(stderr, "qcview: the SDK did not initialise\n");
    return 1;
  }
  Resize(width, height);
  for (auto& tile : m_tiles) {
    const int32_t channel = tile->source.Connect(tile.get());
    if (channel < 0) {
      std::printf("tile %d (%s): the connect was refused\n", tile->index + 1,
                  tile->source.Label().c_str());
      tile->event.store(QCSDK_EVENT_CONNECT_FAILED);
    } else {
      // Unless the outcome has already arrived on another thread.
      int32_t none = -1;
      tile->channel.compare_exchange_strong(none, channel);
    }
  }
  const bool headless = !m_options.screenshot.empty();
  const Clock::time_point start = Clock::now();
  m_lastTick = start;
  Clock::time_point nextTick = start + kTickPeriod;
  Clock::time_point shotAt = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(m_options.timeout));
  bool live = false;
  while (!m_quit) {
    const Clock::time_point wakeAt = headless ? std::min(nextTick, shotAt) : nextTick;
    const auto waitMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now());
    pollfd fds[] = {{m_window.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    poll(fds, 2, static_cast<int>(std::max<int64_t>(0, waitMs.count())));
    uint64_t wakes = 0;
    if (read(m_wakeFd, &wakes, sizeof wakes) > 0) StartDisplays();
    while (XEvent event = m_window.Poll()) Handle(std::move(event));
    if (m_window.broken()) {
      std::fprintf(stderr, "qcview: the connection to the X server was lost\n");
      return 1;
    }
    const Clock::time_point now = Clock::now();
    if (now >= nextTick) {
      Tick();
      nextTick = now + kTickPeriod;
    }
    if (headless && !live && AllLive()) {
      live = true;
      shotAt = now + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(m_options.after));
    }
    if (headless && now >= shotAt) return WriteScreenshot(live ? 0 : kExitTilesNotLive);
  }
  return m_exitStatus;
}

void Viewer::StartDisplays() {
  for (auto& tile : m_tiles) {
    if (!tile->linkUp.exchange(false)) continue;
    const int32_t channel = tile->channel.load();
    const QCSDK_Rect rect{tile->boxes.video.left, tile->boxes.video.top, tile->boxes.video.right,
                          tile->boxes.video.bottom};
    tile->decodedAtShow = tile->decoded.load();
    tile->showing = QCSDK_EnableDecoder(channel, 1) == 1 &&
                    QCSDK_SetVideoPreview(channel, m_window.handle(), &rect) == 1;
    if (!tile->showing) {
      std::printf("tile %d (%s): the display could not be switched on\n", tile->index + 1,
                  tile->source.Label().c_str());
    }
    QCSDK_GetStreamInfo(channel, &tile->info);
  }
  for (auto& tile : m_tiles) DrawTile(*tile);
  m_window.Flush();
}

void Viewer::Handle(XEvent event) {
  switch (event->response_type & 0x7f) {
    case XCB_EXPOSE:
      // The server has cleared the exposed part to black: draw the frames and
      // status lines again and have the players repaint their last pictures.
      if (reinterpret_cast<xcb_expose_event_t*>(event.get())->count != 0) break;
      for (auto& tile : m_tiles) {
        DrawTile(*tile);
        if (tile->showing && tile->channel.load() >= 0) QCSDK_Refresh(tile->channel.load());
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
    case XCB_KEY_PRESS: OnKey(*reinterpret_cast<xcb_key_press_event_t*>(event.get())); break;
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
        if (button->event_x >= b.left && button->event_x < b.right && button->event_y >= b.top &&
            button->event_y < b.bottom) {
          Select(tile->index);
        }
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

void Viewer::OnKey(const xcb_key_press_event_t& key) {
  const uint32_t symbol = m_window.Keysym(key.detail);
  const bool shift = (key.state & XCB_MOD_MASK_SHIFT) != 0;
  const bool control = (key.state & XCB_MOD_MASK_CONTROL) != 0;
  const int count = static_cast<int>(m_tiles.size());
  Tile& tile = *m_tiles[m_selected];
  if (symbol == kTab) {
    Select((m_selected + (shift ? count - 1 : 1)) % count);
  } else if (symbol >= kLeft && symbol <= kDown && control) {
    // Control + arrow moves the selection through the grid.
    const int step = symbol == kLeft    ? -1
                     : symbol == kRight ? 1
                     : symbol == kUp    ? -m_options.columns
                                        : m_options.columns;
    Select(std::clamp(m_selected + step, 0, count - 1));
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
  } else if (symbol == 'q' || symbol == kEscape) {
    m_quit = true;
  }
}

void Viewer::Resize(int width, int height) {
  m_width = width;
  m_height = height;
  const std::vector<TileBoxes> boxes =
      LayOutGrid(m_options.columns, m_options.rows, width, height, kStatusHeight);
  for (auto& tile : m_tiles) {
    tile->boxes = boxes[static_cast<std::size_t>(tile->index)];
    const int32_t channel = tile->channel.load();
    if (!tile->showing || channel < 0) continue;
    const Box& v = tile->boxes.video;
    const QCSDK_Rect rect{v.left, v.top, v.right, v.bottom};
    QCSDK_SetVideoPreview(channel, m_window.handle(), &rect);
  }
}

void Viewer::Select(int index) {
  Tile& before = *m_tiles[m_selected];
  if (before.ptz >= 0) Ptz(before, -1);
  m_selected = index;
  for (auto& tile : m_tiles) DrawTile(*tile);
  m_window.Flush();
}

void Viewer::Tick() {
  // Frame rates over at least half a second.
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - m_lastTick).count();
  const bool measure = seconds >= 0.5;
  if (measure) m_lastTick = now;
  for (auto& tile : m_tiles) {
    const uint32_t decoded = tile->decoded.load();
    if (measure) {
      tile->fps = (decoded - tile->decodedAtTick) / seconds;
      tile->decodedAtTick = decoded;
    }
    const int32_t channel = tile->channel.load();
    if (channel >= 0) QCSDK_GetStreamInfo(channel, &tile->info);
    DrawTile(*tile);
  }
  m_window.Flush();
}

void Viewer::DrawTile(const Tile& tile) {
  const Box& t = tile.boxes.tile;
  const uint32_t frame = tile.index == m_selected ? kSelectedColour : kFrameColour;
  m_window.Fill({t.left, t.top, t.right, t.top + kFrameWidth}, frame);
  m_window.Fill({t.left, t.bottom - kFrameWidth, t.right, t.bottom}, frame);
  m_window.Fill({t.left, t.top, t.left + kFrameWidth, t.bottom}, frame);
  m_window.Fill({t.right - kFrameWidth, t.top, t.right, t.bottom}, frame);
  const Box& s = tile.boxes.status;
  m_window.Fill(s, kStatusBackground);
  m_window.Text(s.left + 2, s.top + (s.bottom - s.top - m_window.textHeight()) / 2,
                s.right - s.left - 4, StatusText(tile), kStatusText, kStatusBackground);
}

std::string Viewer::StatusText(const Tile& tile) const {
  const int32_t event = tile.event.load();
  std::string text = std::to_string(tile.index + 1) + " " + tile.source.Label() + "  ";
  text += event == 0 ? "connecting" : hostlib::EventName(event);
  if (event == QCSDK_EVENT_CONNECTED) {
    char figures[64];
    std::snprintf(figures, sizeof figures, "  %dx%d  %.0f fps", tile.info.width, tile.info.height,
                  tile.fps);
    text += figures;
  }
  if (tile.recording) text += "  REC";
  if (tile.sound) text += "  SOUND";
  return text;
}

void Viewer::Snapshot(Tile& tile) {
  uint8_t* pixels = nullptr;
  int32_t width = 0, height = 0;
  if (QCSDK_SaveBitmapToBuffer(tile.channel.load(), &pixels, &width, &height) != 1) {
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
  const int32_t channel = tile.channel.load();
  if (tile.recording) {
    QCSDK_StopRec(channel);
    tile.recording = false;
    std::printf("tile %d: recording stopped\n", tile.index + 1);
  } else {
    const std::string file = m_options.outDir + "/qcview-" + std::to_string(tile.index + 1) + "-" +
                             TimeStamp() + RecordingExtension(tile.info.recordingKind);
    tile.recording = QCSDK_StartRec(channel, file.c_str()) == 1;
    std::printf("tile %d: %s %s\n", tile.index + 1,
                tile.recording ? "recording to" : "could not record to", file.c_str());
  }
  DrawTile(tile);
  m_window.Flush();
}

void Viewer::ToggleSound(Tile& tile) {
  const int32_t channel = tile.channel.load();
  if (tile.sound) {
    QCSDK_SetAudioPreview(channel, nullptr);
    tile.sound = false;
  } else {
    tile.sound = QCSDK_SetAudioPreview(channel, m_window.handle()) == 1;
    if (!tile.sound) std::printf("tile %d: no sound output\n", tile.index + 1);
  }
  DrawTile(tile);
  m_window.Flush();
}

void Viewer::Ptz(Tile& tile, int32_t command) {
  // -1 stops the command running; a new command stops it first.
  const int32_t channel = tile.channel.load();
  if (tile.ptz >= 0) QCSDK_SendPTZCommand(channel, tile.ptz, 0);
  tile.ptz = command;
  if (command >= 0 && QCSDK_SendPTZCommand(channel, command, 1) != 1) tile.ptz = -1;
}

bool Viewer::AllLive() const {
  return std::all_of(m_tiles.begin(), m_tiles.end(), [](const auto& tile) {
    return tile->showing && tile->decoded.load() >= tile->decodedAtShow + 2;
  });
}

int Viewer::WriteScreenshot(int status) {
  Tick();
  m_window.Sync();
  std::vector<uint8_t> pixels;
  std::string error;
  if (!m_window.Capture(m_width, m_height, pixels, error) ||
      !hostlib::WritePng(m_options.screenshot, pixels.data(), m_width, m_height, false)) {
    std::fprintf(stderr, "qcview: no screenshot: %s\n",
                 error.empty() ? "the PNG file could not be written" : error.c_str());
    return 1;
  }
  // What the window holds, for whoever checks the picture.
  std::printf("window %dx%d %s\n", m_width, m_height, m_options.screenshot.c_str());
  for (const auto& tile : m_tiles) {
    const Box& v = tile->boxes.video;
    const Box& s = tile->boxes.status;
    std::printf("tile %d video %d,%d,%d,%d status %d,%d,%d,%d: %s\n", tile->index + 1, v.left,
                v.top, v.right, v.bottom, s.left, s.top, s.right, s.bottom,
                StatusText(*tile).c_str());
  }
  if (status != 0) std::fprintf(stderr, "qcview: some tiles showed no pictures\n");
  return status;
}

}  // namespace qcview
