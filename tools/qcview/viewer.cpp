#include "viewer.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "viewer_tile.h"

namespace qcview {
namespace {

constexpr auto kTickPeriod = std::chrono::seconds(1);

template <class Duration>
std::chrono::steady_clock::duration Steady(Duration d) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(d);
}

}  // namespace

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
    const int32_t channel = tile->channel;
    if (channel < 0) continue;
    if (tile->recording) QCSDK_StopRec(channel);
    if (tile->mode == Tile::Mode::kPlaying) QCSDK_RemotePlay(channel, -1);
    if (tile->sound) QCSDK_SetAudioPreview(channel, nullptr);
    QCSDK_SetVideoPreview(channel, nullptr, nullptr);
    QCSDK_Disconnect(channel);
  }
  // After the release no callback runs any more: the tiles may go.
  if (m_sdkUp) QCSDK_ReleaseSDK();
  QCSDK_RegisterCallback(nullptr, nullptr, nullptr, nullptr, nullptr);
  if (m_wakeFd >= 0) close(m_wakeFd);
  if (m_signalFd >= 0) close(m_signalFd);
}

void Viewer::OnEvent(int32_t channel, int32_t event, const char* data, int32_t value, void* user) {
  Tile* tile = static_cast<Tile*>(user);
  if (tile == nullptr || event < QCSDK_EVENT_CONNECTED || event > QCSDK_EVENT_STREAM_CHANGED)
    return;
  Report report{tile, channel, event, {}};
  // The list is valid only during the call.
  if (event == QCSDK_EVENT_REC_LIST) report.list = ReadRecordings(data, value);
  tile->owner->Post(std::move(report));
}

void Viewer::OnDecoded(int32_t, const DecodedFrame*, void* user) {
  if (Tile* tile = static_cast<Tile*>(user)) tile->decoded.fetch_add(1);
}

void Viewer::Post(Report report) {
  {
    std::lock_guard<std::mutex> lock(m_reportsMutex);
    m_reports.push_back(std::move(report));
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
}

int Viewer::Run(int width, int height) {
  // SIGINT and SIGTERM end the viewer as the q key does (the SDK's threads,
  // started below, inherit the blocked mask).
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  m_signalFd = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);

  QCSDK_RegisterCallback(&Viewer::OnEvent, nullptr, nullptr, &Viewer::OnDecoded, nullptr);
  m_sdkUp = QCSDK_InitSDK(0, m_options.outDir.c_str()) == 1;
  if (!m_sdkUp) {
    std::fprintf(stderr, "qcview: the SDK did not initialise\n");
    return 1;
  }
  Resize(width, height);
  for (auto& tile : m_tiles) Connect(*tile);
  DrawAll();
  const bool headless = !m_options.screenshot.empty();
  const Clock::time_point start = Clock::now();
  m_lastTick = start;
  Clock::time_point nextTick = start + kTickPeriod;
  Clock::time_point shotAt = start + Steady(std::chrono::duration<double>(m_options.timeout));
  bool live = false;
  while (!m_quit) {
    Clock::time_point wakeAt = std::min(nextTick, NextRetry());
    if (headless) wakeAt = std::min(wakeAt, shotAt);
    const auto waitMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now());
    pollfd fds[] = {{m_window.fd(), POLLIN, 0}, {m_wakeFd, POLLIN, 0}, {m_signalFd, POLLIN, 0}};
    // Headless, the script's steps are polled: they wait on stream state.
    const int64_t cap = headless && m_nextKey < m_options.keys.size() ? 50 : 60000;
    poll(fds, 3, static_cast<int>(std::clamp<int64_t>(waitMs.count(), 0, cap)));
    signalfd_siginfo signal{};
    if (read(m_signalFd, &signal, sizeof signal) > 0) m_quit = true;
    uint64_t wakes = 0;
    if (read(m_wakeFd, &wakes, sizeof wakes) > 0) HandleReports();
    while (XEvent event = m_window.Poll()) Handle(std::move(event));
    if (m_window.broken()) {
      std::fprintf(stderr, "qcview: the connection to the X server was lost\n");
      return 1;
    }
    const Clock::time_point now = Clock::now();
    for (auto& tile : m_tiles) {
      if (tile->link == Tile::Link::kWaiting && now >= tile->retryAt) Connect(*tile);
    }
    m_window.Flush();
    if (now >= nextTick) {
      Tick();
      nextTick = now + kTickPeriod;
    }
    const bool allLive = AllLive();
    if (allLive && m_nextKey < m_options.keys.size() && ScriptStepDone()) {
      const uint32_t key = m_options.keys[m_nextKey];
      if (key != kScriptWaitForLive) {
        OnKey(key, false, false);
        ++m_nextKey;
      } else if (std::all_of(m_tiles.begin(), m_tiles.end(),
                             [](const auto& t) { return t->mode == Tile::Mode::kLive; })) {
        ++m_nextKey;
      }
    }
    if (headless && !live && allLive && m_nextKey == m_options.keys.size() && ScriptStepDone()) {
      live = true;
      shotAt = now + Steady(std::chrono::duration<double>(m_options.after));
    }
    if (headless && now >= shotAt) return WriteScreenshot(live ? 0 : kExitTilesNotLive);
  }
  return m_exitStatus;
}

Viewer::Clock::time_point Viewer::NextRetry() const {
  Clock::time_point next = Clock::time_point::max();
  for (const auto& tile : m_tiles) {
    if (tile->link == Tile::Link::kWaiting) next = std::min(next, tile->retryAt);
  }
  return next;
}

void Viewer::HandleReports() {
  std::vector<Report> reports;
  {
    std::lock_guard<std::mutex> lock(m_reportsMutex);
    reports.swap(m_reports);
  }
  for (const Report& report : reports) {
    // Reports of a link the tile no longer has are late: they change nothing.
    if (report.channel == report.tile->channel) OnReport(*report.tile, report);
  }
  m_window.Flush();
}

void Viewer::OnReport(Tile& tile, const Report& report) {
  const int32_t event = report.event;
  if (event == QCSDK_EVENT_CONNECTED) {
    if (tile.link != Tile::Link::kConnecting) return;
    tile.link = Tile::Link::kUp;
    tile.failure.clear();
    tile.backoff.Reset();
    std::printf("tile %d (%s): connected\n", tile.index + 1, tile.source.Label().c_str());
    ShowPictures(tile);
  } else if (event >= QCSDK_EVENT_AUTH_FAILED && event <= QCSDK_EVENT_REMOTE_CLOSED) {
    LinkEnded(tile, FailureText(tile.source, event,
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    Clock::now() - tile.attemptAt)));
  } else if (event == QCSDK_EVENT_REC_LIST || event == QCSDK_EVENT_REC_LIST_FAILED) {
    if (tile.mode != Tile::Mode::kListing) return;
    tile.mode = Tile::Mode::kList;
    tile.recordings = report.list;
    tile.chosen = 0;
    tile.note = event == QCSDK_EVENT_REC_LIST_FAILED ? "the device could not list its recordings"
                : tile.recordings.empty()            ? "no recordings on this day"
                                                     : "";
    DrawTile(tile);
  } else if (event >= QCSDK_EVENT_PLAYBACK_END_12 && event <= QCSDK_EVENT_PLAYBACK_END_15) {
    if (tile.mode == Tile::Mode::kPlaying) BackToLive(tile, "playback ended");
  } else if (event == QCSDK_EVENT_STREAM_CHANGED) {
    // Another picture size (a playback, or live again): the picture's box follows.
    QCSDK_GetStreamInfo(tile.channel, &tile.info);
    Place(tile);
    DrawTile(tile);
  }
}

void Viewer::Connect(Tile& tile) {
  tile.link = Tile::Link::kConnecting;
  tile.attemptAt = Clock::now();
  tile.channel = -1;
  std::string error;
  if (!tile.source.Resolve(error)) {
    LinkEnded(tile, error);
    return;
  }
  tile.channel = tile.source.Connect(&tile);
  if (tile.channel < 0) LinkEnded(tile, "the SDK took no connect (no free channel or bad address)");
  DrawTile(tile);
}

void Viewer::LinkEnded(Tile& tile, const std::string& why) {
  if (tile.showing) Dim(tile);
  if (tile.recording) {
    std::printf("tile %d: recording stopped: the link ended\n", tile.index + 1);
  }
  // The channel number is given back with the event: never use it again.
  tile.channel = -1;
  tile.showing = tile.announced = tile.recording = tile.sound = false;
  tile.ptz = -1;
  tile.mode = Tile::Mode::kLive;
  tile.fps = 0;
  tile.link = Tile::Link::kWaiting;
  tile.failure = why;
  const std::chrono::seconds delay = tile.backoff.Next();
  tile.retryAt = Clock::now() + delay;
  std::fprintf(stderr, "qcview: tile %d (%s): %s; reconnecting in %lld s\n", tile.index + 1,
               tile.source.Label().c_str(), why.c_str(), static_cast<long long>(delay.count()));
  DrawTile(tile);
}

void Viewer::ShowPictures(Tile& tile) {
  QCSDK_GetStreamInfo(tile.channel, &tile.info);
  tile.decodedAtShow = tile.decoded.load();
  tile.showing = QCSDK_EnableDecoder(tile.channel, 1) == 1;
  Place(tile);
  if (!tile.showing) {
    std::printf("tile %d (%s): the display could not be switched on\n", tile.index + 1,
                tile.source.Label().c_str());
  }
  tile.dimmed.clear();
  DrawTile(tile);
}

void Viewer::Place(Tile& tile) {
  if (!tile.showing || tile.channel < 0) return;
  const Box& v = tile.boxes.video;
  const bool hidden = v.right <= v.left || v.bottom <= v.top || tile.mode == Tile::Mode::kListing ||
                      tile.mode == Tile::Mode::kList;
  if (hidden) {
    tile.picture = {};
    QCSDK_SetVideoPreview(tile.channel, nullptr, nullptr);
    return;
  }
  tile.picture = FitPicture(v, tile.info.width, tile.info.height);
  const QCSDK_Rect rect{tile.picture.left, tile.picture.top, tile.picture.right,
                        tile.picture.bottom};
  if (QCSDK_SetVideoPreview(tile.channel, m_window.handle(), &rect) != 1) tile.showing = false;
  QCSDK_Refresh(tile.channel);
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
    if (tile->channel >= 0 && tile->link == Tile::Link::kUp) {
      StreamInfo info{};
      if (QCSDK_GetStreamInfo(tile->channel, &info) == 1) {
        const bool resized = info.width != tile->info.width || info.height != tile->info.height;
        tile->info = info;
        if (resized) Place(*tile);
      }
    }
    if (tile->showing && !tile->announced && decoded >= tile->decodedAtShow + 2) {
      tile->announced = true;
      std::printf("tile %d: showing pictures\n", tile->index + 1);
    }
  }
  DrawAll();
}

bool Viewer::AllLive() const {
  return std::all_of(m_tiles.begin(), m_tiles.end(), [](const auto& tile) {
    return tile->showing && tile->decoded.load() >= tile->decodedAtShow + 2;
  });
}

}  // namespace qcview
