// What the viewer draws around and over the pictures: frames, status lines
// with their badges, the messages and recording lists inside a tile, the
// dimmed last picture of a tile without link, and the headless screenshot.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "hostlib/png_writer.h"
#include "viewer.h"
#include "viewer_tile.h"

namespace qcview {
namespace {

constexpr uint32_t kFrameColour = 0x303030, kSelectedColour = 0xf0c000,
                   kStatusBackground = 0x202020, kStatusText = 0xe0e0e0, kBlack = 0,
                   kMessageText = 0xffffff, kRecordBadge = 0xc01818, kBadge = 0x2050a0,
                   kChosenLine = 0x405060;
const char* const kPtzNames[] = {"up", "down", "left", "right"};

bool Empty(const Box& b) {
  return b.right <= b.left || b.bottom <= b.top;
}

// Text broken at spaces into lines of at most `columns` characters (a word
// longer than that is cut).
std::vector<std::string> Wrap(const std::string& text, std::size_t columns) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t at = 0;
  while (at < text.size() && columns > 0) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && line.size() + 1 + word.size() > columns) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word.substr(0, columns);
    at = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

void Viewer::DrawAll() {
  for (auto& tile : m_tiles) DrawTile(*tile);
  m_window.Flush();
}

void Viewer::DrawTile(const Tile& tile) {
  const Box& t = tile.boxes.tile;
  if (Empty(t)) return;
  const uint32_t frame = tile.index == m_selected ? kSelectedColour : kFrameColour;
  m_window.Fill({t.left, t.top, t.right, t.top + kFrameWidth}, frame);
  m_window.Fill({t.left, t.bottom - kFrameWidth, t.right, t.bottom}, frame);
  m_window.Fill({t.left, t.top, t.left + kFrameWidth, t.bottom}, frame);
  m_window.Fill({t.right - kFrameWidth, t.top, t.right, t.bottom}, frame);

  const Box& v = tile.boxes.video;
  if (tile.showing && !Empty(tile.picture)) {
    // Bars beside or above and below the picture.
    const Box& p = tile.picture;
    m_window.Fill({v.left, v.top, v.right, p.top}, kBlack);
    m_window.Fill({v.left, p.bottom, v.right, v.bottom}, kBlack);
    m_window.Fill({v.left, p.top, p.left, p.bottom}, kBlack);
    m_window.Fill({p.right, p.top, v.right, p.bottom}, kBlack);
  } else {
    DrawMessages(tile);
  }

  // Status line: the text on the left, badges on the right over it.
  const Box& s = tile.boxes.status;
  const int textTop = s.top + (s.bottom - s.top - m_window.textHeight()) / 2;
  m_window.Fill(s, kStatusBackground);
  m_window.Text(s.left + 2, textTop, s.right - s.left - 4, StatusText(tile), kStatusText,
                kStatusBackground);
  int right = s.right;
  for (const auto& [text, colour] : Badges(tile)) {
    const int width = static_cast<int>(text.size() + 2) * m_window.charWidth();
    if (right - width < s.left) break;
    m_window.Fill({right - width, s.top, right, s.bottom}, colour);
    m_window.Text(right - width + m_window.charWidth(), textTop, width, text, kMessageText, colour);
    right -= width + 2;
  }
}

void Viewer::DrawMessages(const Tile& tile) {
  const Box& v = tile.boxes.video;
  std::vector<std::pair<std::string, bool>> lines;  // text, highlighted
  if (tile.mode == Tile::Mode::kListing || tile.mode == Tile::Mode::kList) {
    lines.emplace_back("Recordings of " + DayText(tile.day), false);
    if (tile.mode == Tile::Mode::kListing) lines.emplace_back("asking the device...", false);
    for (std::size_t i = 0; i < tile.recordings.size(); ++i) {
      lines.emplace_back("  " + tile.recordings[i].name, static_cast<int>(i) == tile.chosen);
    }
    if (!tile.note.empty()) lines.emplace_back(tile.note, false);
    lines.emplace_back("Up/Down choose, Enter play, Left/Right day, Esc live", false);
    m_window.Fill(v, kStatusBackground);
  } else {
    // No link: the last picture dimmed, the reason and the countdown over it.
    const Box at = FitPicture(v, tile.dimmedWidth, tile.dimmedHeight);
    m_window.Fill(v, kBlack);
    if (!tile.dimmed.empty() && at.right - at.left == tile.dimmedWidth &&
        at.bottom - at.top == tile.dimmedHeight) {
      m_window.PutBox(at, tile.dimmed);
    }
    if (tile.link == Tile::Link::kWaiting) {
      const auto left = std::chrono::ceil<std::chrono::seconds>(tile.retryAt - Clock::now());
      const int columns = (v.right - v.left - 8) / std::max(1, m_window.charWidth());
      for (std::string& line : Wrap(tile.failure, static_cast<std::size_t>(std::max(1, columns))))
        lines.emplace_back(std::move(line), false);
      lines.emplace_back(
          "reconnecting in " + std::to_string(std::max<int64_t>(0, left.count())) + " s", false);
    } else if (tile.link == Tile::Link::kConnecting) {
      lines.emplace_back("connecting...", false);
    }
  }
  const int lineHeight = m_window.textHeight() + 4;
  int top = tile.mode == Tile::Mode::kLive
                ? v.top + (v.bottom - v.top - static_cast<int>(lines.size()) * lineHeight) / 2
                : v.top + 4;
  for (const auto& [text, chosen] : lines) {
    if (top + lineHeight > v.bottom) break;
    const uint32_t background = chosen ? kChosenLine : kStatusBackground;
    const int width =
        std::min(v.right - v.left - 8, static_cast<int>(text.size()) * m_window.charWidth());
    // Centred on a live tile, from the left in a list.
    const int left =
        tile.mode == Tile::Mode::kLive ? v.left + (v.right - v.left - width) / 2 : v.left + 4;
    m_window.Fill({left - 2, top, left + width + 2, top + lineHeight}, background);
    m_window.Text(left, top + 2, width, text, kMessageText, background);
    top += lineHeight;
  }
}

std::string Viewer::StatusText(const Tile& tile) const {
  std::string text = std::to_string(tile.index + 1) + " " + tile.source.Label() + "  ";
  if (tile.link == Tile::Link::kConnecting) return text + "connecting";
  if (tile.link == Tile::Link::kWaiting) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(tile.retryAt - Clock::now());
    return text + tile.failure + ", reconnecting in " +
           std::to_string(std::max<int64_t>(0, left.count())) + " s";
  }
  if (tile.mode == Tile::Mode::kPlaying) return text + tile.playback.Text(tile.info);
  char figures[64];
  std::snprintf(figures, sizeof figures, "connected  %dx%d  %.0f fps", tile.info.width,
                tile.info.height, tile.fps);
  text += figures;
  if (!tile.note.empty()) text += "  " + tile.note;
  return text;
}

std::vector<std::pair<std::string, uint32_t>> Viewer::Badges(const Tile& tile) const {
  std::vector<std::pair<std::string, uint32_t>> badges;
  if (tile.recording) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - tile.recordingSince);
    badges.emplace_back("REC " + Duration(seconds.count()), kRecordBadge);
  }
  if (tile.sound) badges.emplace_back("SOUND", kBadge);
  if (tile.ptz >= 0 && tile.ptz < 4)
    badges.emplace_back(std::string("PTZ ") + kPtzNames[tile.ptz], kBadge);
  return badges;
}

void Viewer::Dim(Tile& tile) {
  // The player stops drawing once the link has ended: its last picture stays
  // in the window and is read back, halved in brightness.
  tile.dimmed.clear();
  if (Empty(tile.picture) || !m_window.CaptureBox(tile.picture, tile.dimmed)) return;
  for (uint8_t& byte : tile.dimmed) byte = static_cast<uint8_t>(byte / 2);
  tile.dimmedWidth = tile.picture.right - tile.picture.left;
  tile.dimmedHeight = tile.picture.bottom - tile.picture.top;
}

int Viewer::WriteScreenshot(int status) {
  Tick();
  m_window.Sync();
  // The players draw from their own threads: the window is read once each
  // has drawn a few more pictures over what was drawn here, so that the file
  // shows what they draw (bounded: a paused stream draws nothing new).
  std::vector<uint32_t> before;
  for (const auto& tile : m_tiles) before.push_back(tile->decoded.load());
  const Clock::time_point until = Clock::now() + std::chrono::seconds(1);
  auto drawing = [&] {
    for (const auto& tile : m_tiles) {
      if (tile->showing && !Empty(tile->picture) &&
          tile->decoded.load() < before[static_cast<std::size_t>(tile->index)] + 3)
        return true;
    }
    return false;
  };
  while (drawing() && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
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
    const Box& p = tile->picture;
    const Box& s = tile->boxes.status;
    std::printf("tile %d video %d,%d,%d,%d picture %d,%d,%d,%d status %d,%d,%d,%d: %s\n",
                tile->index + 1, v.left, v.top, v.right, v.bottom, p.left, p.top, p.right, p.bottom,
                s.left, s.top, s.right, s.bottom, StatusText(*tile).c_str());
  }
  if (status != 0) std::fprintf(stderr, "qcview: some tiles showed no pictures\n");
  return status;
}

}  // namespace qcview
